// The text-keyed hash table, kept in a std::unordered_map whose nodes never
// move, so the ACL_HTABLE_INFO handed out stays put while the table grows.
#include "acl_htable.h"

#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>
#include <string>
#include <system_error>
#include <unordered_map>

#include "acl_msg.h"

struct ACL_HTABLE {
    std::unordered_map<std::string, ACL_HTABLE_INFO> entries;
    bool use_lock = false;
    std::shared_mutex rwlock;  // taken only with ACL_HTABLE_FLAG_USE_LOCK
};

namespace {

void check_table(ACL_HTABLE* table, const char* key, const char* myname) {
    if (table == nullptr || key == nullptr)
        acl_msg_fatal("%s(%d): table or key null", myname, __LINE__);
}

// Holds the table's lock, exclusive or shared, for one call when the table
// has one. ok() is false (after the error line) when it could not be taken.
class TableLock {
  public:
    TableLock(ACL_HTABLE* table, bool exclusive, const char* myname)
        : table_(table->use_lock ? table : nullptr), exclusive_(exclusive) {
        if (table_ == nullptr) return;
        try {
            if (exclusive_)
                table_->rwlock.lock();
            else
                table_->rwlock.lock_shared();
        } catch (const std::system_error& e) {
            acl_msg_error(
                exclusive_ ? "%s(%d): write lock error(%s)" : "%s(%d): read lock error(%s)", myname,
                __LINE__, e.what());
            table_ = nullptr;
            failed_ = true;
        }
    }

    ~TableLock() {
        if (table_ == nullptr) return;
        if (exclusive_)
            table_->rwlock.unlock();
        else
            table_->rwlock.unlock_shared();
    }

    TableLock(const TableLock&) = delete;
    TableLock& operator=(const TableLock&) = delete;

    bool ok() const { return !failed_; }

  private:
    ACL_HTABLE* table_;
    bool exclusive_;
    bool failed_ = false;
};

[[noreturn]] void out_of_memory(const char* myname, int line) {
    acl_msg_fatal("%s(%d): calloc error(%s)", myname, line, std::strerror(ENOMEM));
}

}  // namespace

ACL_HTABLE* acl_htable_create(int size, unsigned int flags) {
    static const char* myname = "acl_htable_create";
    ACL_HTABLE* table = new (std::nothrow) ACL_HTABLE;
    if (table == nullptr) out_of_memory(myname, __LINE__);
    table->use_lock = (flags & ACL_HTABLE_FLAG_USE_LOCK) != 0;
    try {
        table->entries.reserve(size > 0 ? static_cast<size_t>(size) : 13);
    } catch (const std::bad_alloc&) {
        out_of_memory(myname, __LINE__);
    }
    return table;
}

ACL_HTABLE_INFO* acl_htable_enter(ACL_HTABLE* table, const char* key, void* value) {
    static const char* myname = "acl_htable_enter";
    check_table(table, key, myname);
    TableLock lock(table, true, myname);
    if (!lock.ok()) return nullptr;

    try {
        auto [it, added] = table->entries.try_emplace(key, ACL_HTABLE_INFO{nullptr, value});
        if (!added) {
            acl_msg_warn("%s(%d): duplex key(%s) exist", myname, __LINE__, key);
            return nullptr;
        }
        it->second.key = it->first.c_str();
        return &it->second;
    } catch (const std::bad_alloc&) {
        out_of_memory(myname, __LINE__);
    }
}

ACL_HTABLE_INFO* acl_htable_locate(ACL_HTABLE* table, const char* key) {
    static const char* myname = "acl_htable_locate";
    check_table(table, key, myname);
    TableLock lock(table, false, myname);
    if (!lock.ok()) return nullptr;
    try {
        auto it = table->entries.find(key);
        return it == table->entries.end() ? nullptr : &it->second;
    } catch (const std::bad_alloc&) {  // the key's temporary copy
        out_of_memory(myname, __LINE__);
    }
}

void* acl_htable_find(ACL_HTABLE* table, const char* key) {
    ACL_HTABLE_INFO* info = acl_htable_locate(table, key);
    return info != nullptr ? info->value : nullptr;
}

int acl_htable_delete(ACL_HTABLE* table, const char* key, ACL_HTABLE_FREE_FN free_fn) {
    static const char* myname = "acl_htable_delete";
    check_table(table, key, myname);
    void* value;
    {
        TableLock lock(table, true, myname);
        if (!lock.ok()) return -1;
        try {
            auto it = table->entries.find(key);
            if (it == table->entries.end()) return -1;
            value = it->second.value;
            table->entries.erase(it);
        } catch (const std::bad_alloc&) {
            out_of_memory(myname, __LINE__);
        }
    }
    // Outside the lock: a value's destructor may look at the table.
    if (free_fn != nullptr) free_fn(value);
    return 0;
}

void acl_htable_walk(ACL_HTABLE* table, ACL_HTABLE_WALK_FN walk_fn, void* arg) {
    static const char* myname = "acl_htable_walk";
    if (table == nullptr || walk_fn == nullptr)
        acl_msg_fatal("%s(%d): table or walk_fn null", myname, __LINE__);
    TableLock lock(table, false, myname);
    if (!lock.ok()) return;
    for (auto& entry : table->entries) walk_fn(&entry.second, arg);
}

int acl_htable_used(ACL_HTABLE* table) {
    static const char* myname = "acl_htable_used";
    if (table == nullptr) acl_msg_fatal("%s(%d): table null", myname, __LINE__);
    TableLock lock(table, false, myname);
    return lock.ok() ? static_cast<int>(table->entries.size()) : -1;
}

void acl_htable_free(ACL_HTABLE* table, ACL_HTABLE_FREE_FN free_fn) {
    if (table == nullptr) return;
    if (free_fn != nullptr)
        for (auto& entry : table->entries) free_fn(entry.second.value);
    delete table;
}
