#include "http/NetAuthentication.h"

#include <gtest/gtest.h>

namespace net {
namespace {

TEST(EncoderMIME, EncodesWithPaddingAndNoLineBreaks) {
    EXPECT_EQ(TNetEncoderMIME::Encode(""), "");
    EXPECT_EQ(TNetEncoderMIME::Encode(":"), "Og==");
    EXPECT_EQ(TNetEncoderMIME::Encode("ab"), "YWI=");
    EXPECT_EQ(TNetEncoderMIME::Encode("abc"), "YWJj");
    EXPECT_EQ(TNetEncoderMIME::Encode("Aladdin:open sesame"), "QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    EXPECT_EQ(TNetEncoderMIME::Encode(std::string("\xff\xfe\x00", 3)), "//4A");
    const std::string longText(100, 'x');
    EXPECT_EQ(TNetEncoderMIME::Encode(longText).find('\n'), std::string::npos);
}

TEST(BasicAuthentication, HeaderOfEmptyCredentialsEncodesALoneColon) {
    TNetBasicAuthentication basic;
    EXPECT_EQ(basic.headerValue(), "Basic Og==");
    basic.setUsername("user");
    basic.setPassword("pw");
    EXPECT_EQ(basic.headerValue(), "Basic dXNlcjpwdw==");
}

TEST(BasicAuthentication, StepsThroughSendThenFailAndCountsTries) {
    TNetBasicAuthentication basic;
    basic.setUsername("user");
    basic.setChallenges({"Digest nonce=1", "Basic realm=\"site\", charset=UTF-8"});
    EXPECT_EQ(basic.next(), AuthNextStep::send);
    EXPECT_EQ(basic.triedCount(), 1);
    EXPECT_TRUE(basic.stepsCompleted());
    EXPECT_EQ(basic.params.value("realm"), "site");
    EXPECT_EQ(basic.params.value("charset"), "UTF-8");
    // The same credentials rejected again: give up.
    EXPECT_EQ(basic.next(), AuthNextStep::fail);
    basic.reset();
    EXPECT_EQ(basic.triedCount(), 0);
    EXPECT_EQ(basic.currentStep(), 0);
}

TEST(BasicAuthentication, AsksWithoutUserName) {
    TNetBasicAuthentication basic;
    basic.setChallenges({"Basic realm=\"x\""});
    EXPECT_EQ(basic.next(), AuthNextStep::ask);
    EXPECT_EQ(basic.triedCount(), 1);
    EXPECT_EQ(basic.currentStep(), 0);
}

TEST(BasicAuthentication, ChallengeCannotReplaceCredentials) {
    TNetBasicAuthentication basic;
    basic.setUsername("me");
    basic.setChallenges({"Basic Username=evil, realm=\"\""});
    EXPECT_EQ(basic.next(), AuthNextStep::send);
    EXPECT_EQ(basic.username(), "me");
    EXPECT_EQ(basic.params.value("realm"), "");
}

TEST(AuthRegistry, BasicIsRegisteredAndLookupIgnoresCase) {
    EXPECT_EQ(FindAuthClass("Basic"), TNetBasicAuthentication::Class());
    EXPECT_EQ(FindAuthClass("BASIC"), TNetBasicAuthentication::Class());
    EXPECT_EQ(FindAuthClass("Digest"), nullptr);
    EXPECT_EQ(FindSchemeForChallenges({"NTLM", "Negotiate abc", "basic realm=\"r\""}),
              TNetBasicAuthentication::Class());
    EXPECT_EQ(FindSchemeForChallenges({"NTLM"}), nullptr);
}

TEST(AuthRegistry, RegisteringANameTwiceRaises) {
    try {
        RegisterAuthenticationMethod("basic", TNetBasicAuthentication::Class());
        FAIL() << "no exception";
    } catch (const ENetAlreadyRegisteredAuthenticationMethod& e) {
        EXPECT_EQ(e.Message(),
                  "This authentication method is already registered with class name "
                  "TNetBasicAuthentication.");
    }
    RegisterAuthenticationMethod("X-Test", TNetBasicAuthentication::Class());
    EXPECT_EQ(FindAuthClass("x-test"), TNetBasicAuthentication::Class());
    UnregisterAuthenticationMethod("X-TEST");
    EXPECT_EQ(FindAuthClass("x-test"), nullptr);
}

}  // namespace
}  // namespace net
