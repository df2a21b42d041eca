#pragma once
// A disk layer that records every call that decides what a power cut leaves
// (file and folder syncs, renames, removals), in order, and can fail the
// calls a test names, before they reach the disk. Marks put in by the test
// (an end told, say) land in the same sequence.
#include <cerrno>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "download/files/DiskCalls.h"

namespace dltest {

class DiskCallRecorder : public dl::DiskCalls {
public:
    struct Call {
        std::string op;  // "dataSync", "folderSync", "rename", "unlink" or a mark
        std::string path;
        std::string to;  // of a rename
        int result = 0;
    };

    DiskCallRecorder() : installed_(*this) {}

    int dataSync(int fd, const std::string& path) override {
        return record({"dataSync", path, ""}, [&] { return DiskCalls::dataSync(fd, path); });
    }
    int folderSync(const std::string& folder) override {
        return record({"folderSync", folder, ""}, [&] { return DiskCalls::folderSync(folder); });
    }
    int rename(const std::string& from, const std::string& to) override {
        return record({"rename", from, to}, [&] { return DiskCalls::rename(from, to); });
    }
    int unlink(const std::string& path) override {
        return record({"unlink", path, ""}, [&] { return DiskCalls::unlink(path); });
    }

    void mark(const std::string& what) {
        std::lock_guard lock(mutex_);
        calls_.push_back({what, "", ""});
    }
    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // Calls of `op` whose path passes `which` fail with `error` from now on.
    void failWhen(std::string op, std::function<bool(const Call&)> which, int error = EIO) {
        std::lock_guard lock(mutex_);
        failOp_ = std::move(op);
        failWhich_ = std::move(which);
        failError_ = error;
    }

private:
    int record(Call call, const std::function<int()>& real) {
        bool fail = false;
        {
            std::lock_guard lock(mutex_);
            fail = call.op == failOp_ && failWhich_ && failWhich_(call);
        }
        call.result = fail ? failError_ : real();
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        return call.result;
    }

    mutable std::mutex mutex_;
    std::vector<Call> calls_;
    std::string failOp_;
    std::function<bool(const Call&)> failWhich_;
    int failError_ = EIO;
    dl::ScopedDiskCalls installed_;
};

// The position of the first call for which `match` holds, from `from` on;
// -1 when there is none.
inline int indexOf(const std::vector<DiskCallRecorder::Call>& calls,
                   const std::function<bool(const DiskCallRecorder::Call&)>& match, int from = 0) {
    for (int i = from; i < static_cast<int>(calls.size()); ++i)
        if (match(calls[static_cast<std::size_t>(i)])) return i;
    return -1;
}

}  // namespace dltest
