#include "store_test_util.h"

#include <cstdlib>

#include "acl_htable.h"

namespace store_test {

namespace {

void free_plain_entry(STORE_CTRL_ENTRY* entry) {
    store_ctrl_entry_clean(entry);
    std::free(entry);
}

STORE_CTRL_ENTRY* new_plain_entry(STORE_CTRL* ctrl, STORE_CLIENT* client) {
    return store_ctrl_entry_alloc(ctrl, client, sizeof(STORE_CTRL_ENTRY));
}

int count_completion(STORE_CTRL_ENTRY*) {
    TestCtrl::completions++;
    return TestCtrl::complete_answer;
}

}  // namespace

TestCtrl::TestCtrl() {
    ctrl = store_ctrl_alloc(nullptr, sizeof(STORE_CTRL));
    ctrl->ops.ctrl_entry_new = new_plain_entry;
    ctrl->ops.ctrl_entry_free = free_plain_entry;
    ctrl->ops.on_complete = count_completion;
    completions = 0;
    complete_answer = 0;
}

TestCtrl::~TestCtrl() { store_ctrl_free(ctrl); }

STORE_CLIENT* make_client(STORE_CTRL* ctrl, const std::string& id, const std::string& path,
                          int max_thread, int64_t content_length, const std::string& data,
                          int can_save, int part_save) {
    STORE_CLIENT* c = store_client_alloc(
        &ctrl->pool, id.c_str(), path.c_str(), max_thread, content_length, data.data(),
        static_cast<int64_t>(data.size()), nullptr, sizeof(STORE_CLIENT));
    c->can_save = can_save;
    c->part_save = part_save;
    c->sync_stop = 1;
    return c;
}

STORE_CTRL_ENTRY* make_entry(STORE_CTRL* ctrl, const std::string& id, const std::string& path,
                             int max_thread, int64_t content_length, const std::string& data,
                             int can_save, int part_save) {
    STORE_CLIENT* c =
        make_client(ctrl, id, path, max_thread, content_length, data, can_save, part_save);
    STORE_CTRL_ENTRY* e = store_ctrl_entry_alloc(ctrl, c, sizeof(STORE_CTRL_ENTRY));
    store_client_free(c);
    return e;
}

void drop_entry(STORE_CTRL_ENTRY* entry) {
    acl_htable_delete(entry->ctrl->table, entry->id, nullptr);
    store_ctrl_entry_free(entry);
}

LogCapture::LogCapture(const std::string& path) : path_(path) { acl_msg_open(path.c_str(), "log"); }

LogCapture::~LogCapture() { acl_msg_close(); }

std::string LogCapture::text() const { return tarvo_test::read_file(path_); }

int LogCapture::count(const std::string& needle) const {
    std::string t = text();
    int n = 0;
    for (auto at = t.find(needle); at != std::string::npos; at = t.find(needle, at + 1)) n++;
    return n;
}

}  // namespace store_test
