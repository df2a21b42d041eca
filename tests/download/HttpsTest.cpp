// https through curl with the certificate checks on: a certificate from a CA
// the test trusts (through BRELVOMP3_CA_FILE) works; a self-signed one fails
// the item and nothing is read.
#include <httplib.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "download/engine/TDlDownloads.h"
#include "tests/download/DownloadTestSupport.h"
#include "tests/support/TempDir.h"

using dltest::OneItemRun;
using dltest::Recorder;
using dltest::ScopedEnv;

namespace {

// A test CA, a server certificate it signed for 127.0.0.1, and a self-signed
// one for the same address, made with the openssl command.
class TestPki {
public:
    TestPki() {
        const std::string d = dir_.path().string();
        const std::string newKey = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
        ok_ = run("openssl req -x509" + newKey + " -days 2 -keyout " + d + "/ca.key -out " + d +
                  "/ca.pem -subj '/CN=Brelvo Test CA'") &&
              run("openssl req" + newKey + " -keyout " + d + "/good.key -out " + d + "/good.csr -subj '/CN=127.0.0.1'") &&
              run("printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' > " + d + "/ext.cnf") &&
              run("openssl x509 -req -in " + d + "/good.csr -CA " + d + "/ca.pem -CAkey " + d +
                  "/ca.key -CAcreateserial -days 2 -extfile " + d + "/ext.cnf -out " + d + "/good.pem") &&
              run("openssl req -x509" + newKey + " -days 2 -keyout " + d + "/bad.key -out " + d +
                  "/bad.pem -subj '/CN=127.0.0.1' -addext 'subjectAltName=IP:127.0.0.1'");
    }
    bool ok() const { return ok_; }
    std::string file(const char* name) const { return dir_.file(name); }

private:
    static bool run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

    testsupport::TempDir dir_;
    bool ok_ = false;
};

class TlsServer {
public:
    TlsServer(const std::string& cert, const std::string& key) : server_(cert.c_str(), key.c_str()) {
        server_.Get("/song.mp3", [this](const httplib::Request&, httplib::Response& res) {
            ++requests;
            res.set_content("secure song", "audio/mpeg");
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        thread_ = std::thread([this] { server_.listen_after_bind(); });
    }
    ~TlsServer() {
        server_.stop();
        thread_.join();
    }
    int port() const { return port_; }
    bool valid() { return server_.is_valid() && port_ > 0; }

    std::atomic<int> requests{0};

private:
    httplib::SSLServer server_;
    int port_ = 0;
    std::thread thread_;
};

}  // namespace

TEST(Https, TrustedCertificateWorksAndAnUntrustedOneReadsNothing) {
    TestPki pki;
    ASSERT_TRUE(pki.ok()) << "the openssl command could not make the test certificates";
    ScopedEnv trust("BRELVOMP3_CA_FILE", pki.file("ca.pem").c_str());
    struct Case {
        const char* name;
        const char* cert;
        const char* key;
        dl::TDlItemState state;
        std::int32_t code;
        const char* message;
        const char* data;
    };
    const Case cases[] = {
        {"certificate from the trusted CA", "good.pem", "good.key", dl::dsFinished, 0, "", "secure song"},
        {"self-signed certificate", "bad.pem", "bad.key", dl::dsFailed, 12045, "Internet Error: 12045", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TlsServer server(pki.file(c.cert), pki.file(c.key));
        ASSERT_TRUE(server.valid());
        OneItemRun run("https://127.0.0.1:" + std::to_string(server.port()) + "/song.mp3");
        ASSERT_TRUE(run.run());
        EXPECT_EQ(run.item.Progress.State.load(), c.state);
        EXPECT_EQ(run.item.Progress.ErrorCode, c.code);
        EXPECT_EQ(run.item.Progress.ErrorMessage, c.message);
        EXPECT_EQ(std::string(run.item.Progress.Data.View()), c.data);
        EXPECT_EQ(server.requests.load(), c.code == 0 ? 1 : 0);
    }
}
