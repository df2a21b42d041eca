#pragma once
// Shared helpers of the connection tests: an event log and connections over
// the in-memory transport.
#include <string>
#include <vector>

#include "http/NetTCPClient.h"
#include "tests/support/MemoryIOHandler.h"

namespace nettest {

// Records statuses and connect/disconnect events in the order they fire.
struct EventLog {
    std::vector<std::string> entries;

    void attach(net::TNetTCPClient& client) {
        client.OnStatus = [this](net::TNetBaseComponent*, net::TNetStatus, const std::string& text) {
            entries.push_back(text);
        };
        client.OnConnected = [this](net::TNetBaseComponent*) { entries.push_back("OnConnected"); };
        client.OnDisconnected = [this](net::TNetBaseComponent*) {
            entries.push_back("OnDisconnected");
        };
    }
    int count(const std::string& entry) const {
        int n = 0;
        for (const auto& e : entries) n += e == entry;
        return n;
    }
};

// A client connected to an in-memory peer. The transport is declared after
// the client so it goes first and the client hears of it.
struct MemoryConnection {
    net::TNetTCPClient client;
    testsupport::MemoryIOHandler io;
    EventLog log;

    explicit MemoryConnection(std::string input, std::vector<std::size_t> chunks = {}) {
        io.setInput(std::move(input), std::move(chunks));
        log.attach(client);
        client.SetIOHandler(&io);
        client.OpenConnection();
    }
};

}  // namespace nettest
