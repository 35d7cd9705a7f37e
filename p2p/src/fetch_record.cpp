#include "fetch_record.h"

#include <algorithm>

namespace p2p {

FetchRecord::FetchRecord(const P2P_DATA_REQUEST& first) : rid_(first.rid), last_(first) {
    queued_.push_back({first.offset, first.length});
}

void FetchRecord::add_peer(std::uint32_t id) {
    if (std::find(peers_.begin(), peers_.end(), id) == peers_.end()) peers_.push_back(id);
}

int FetchRecord::hand(const P2P_DATA_REQUEST& req) {
    if (peers_.empty()) return -1;
    if (!queued_.empty()) return -2;
    last_ = req;
    queued_.push_back({req.offset, req.length});
    return 0;
}

P2P_DATA_DELIVERY FetchRecord::failure() const { return {rid_, last_.offset, last_.length}; }

}  // namespace p2p
