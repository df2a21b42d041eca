#pragma once
// A D-Bus session bus of the test's own: dbus-daemon on a socket in a temp
// folder, with a configuration that lets any connection own any name and
// send anything. Stopped when the object goes. Where dbus-daemon is not
// installed or does not start, address() is empty and whyNot() says why.
#include <memory>
#include <string>

#include "tests/support/TempDir.h"
#include "tests/support/ToolProcess.h"

namespace testsupport {

class PrivateSessionBus {
public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // The bus's address, as DBUS_SESSION_BUS_ADDRESS gives one.
    const std::string& address() const { return address_; }
    const std::string& whyNot() const { return whyNot_; }

private:
    TempDir dir_;
    std::unique_ptr<ToolProcess> daemon_;
    std::string address_;
    std::string whyNot_;
};

}  // namespace testsupport
