// Process set-up of the backend tests: sockets, the log, and (when the
// peers run) the trusted test CA.
#include <winsock2.h>

#include <gtest/gtest.h>

#include "backend/HttpClient.h"
#include "backend/PeerSupport.h"
#include "backend/TestLog.h"

namespace {

class BackendEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
    TestLog::Instance();
    if (PeerAvailable()) {
      ASSERT_TRUE(InstallTestCa()) << "the test CA could not be trusted";
    }
    // Hostile peers are given a few seconds, not the minute of a real run.
    HttpClient::SetDefaultDeadlineMs(8000);
  }
  void TearDown() override { WSACleanup(); }
};

const auto* const g_env = ::testing::AddGlobalTestEnvironment(new BackendEnvironment);

}  // namespace
