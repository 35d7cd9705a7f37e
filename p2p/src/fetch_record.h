// The fetch record of one resource being fetched from peers: its holders, in
// the order of the server's answer, and the ranges still to be fetched.
//
// Peer connections and piece transfers come with the peer transport; until
// then a record only keeps its holders and queue, and answers further
// requests by the rules the session's callers rely on.
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "p2p_session.h"
#include "timer_queue.h"

namespace p2p {

struct FetchRange {
    std::uint64_t begin;
    std::uint64_t length;
};

class FetchRecord {
  public:
    explicit FetchRecord(const P2P_DATA_REQUEST& first);

    std::uint64_t rid() const { return rid_; }
    const std::vector<std::uint32_t>& peers() const { return peers_; }
    const std::deque<FetchRange>& queued() const { return queued_; }

    // Adds a holder unless it is known already.
    void add_peer(std::uint32_t id);

    // A later request: -1 without a known holder, -2 while a range is still
    // queued, 0 when the range was queued.
    int hand(const P2P_DATA_REQUEST& req);

    // The delivery that reports this record's fetch as failed.
    P2P_DATA_DELIVERY failure() const;

    void clear() { queued_.clear(); }

    // The delayed removal posted for the record (0: none).
    TimerQueue::Id removal = 0;

  private:
    std::uint64_t rid_;
    P2P_DATA_REQUEST last_;
    std::vector<std::uint32_t> peers_;
    std::deque<FetchRange> queued_;
};

}  // namespace p2p
