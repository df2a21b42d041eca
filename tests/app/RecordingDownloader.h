#pragma once
// A downloader for the list's tests that downloads nothing: it records what
// the list asks of it, and the test tells the list each song's start,
// progress and end through the reports it was given.
#include <cstdint>
#include <utility>
#include <vector>

#include "app/ListDownloader.h"

namespace apptest {

class RecordingDownloader : public app::ListDownloader {
public:
    void setReports(Reports reports) override { reports_ = std::move(reports); }
    void add(const Song& song) override { added.push_back(song.id); }
    void stop(std::int64_t id) override { stopped.push_back(id); }
    void stopAll() override {}
    void moveToFront(const std::vector<std::int64_t>& ids) override { movedToFront.push_back(ids); }
    void setPlaces(int) override {}
    void setSpeedLimit(std::int64_t) override {}

    Reports reports_;
    // The ids, in the order they were asked for.
    std::vector<std::int64_t> added;
    std::vector<std::int64_t> stopped;
    std::vector<std::vector<std::int64_t>> movedToFront;
};

}  // namespace apptest
