#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Ccsid37.h"
#include "CliText.h"
#include "FreshProcess.h"
#include "HostEngine.h"
#include "HostdProcess.h"
#include "SendCommand.h"
#include "SendRules.h"
#include "cwb.h"

// One run of tavo400-send in this process, in an empty working directory of its own
// (where "dftsys.ini" lives), with the user's configuration and data kept out of reach.
class CliFixture : public ::testing::Test, protected testsupport::FreshProcess {
  protected:
    CliFixture() : FreshProcess("") {}

    struct CommandRun {
        int code;
        std::string out;
        std::string err;
    };

    // Each run of the command is a new process: only the hosts keep their state.
    CommandRun Run(const std::vector<std::string>& args, const std::string& input = {},
                   bool terminal = true) {
        Restart();
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = tavo::cli::RunSendCommand(args, {in, out, err, terminal});
        return {code, out.str(), err.str()};
    }

    // The record the window's Send command puts on the wire for these fields, in EBCDIC.
    static std::string WindowRecord(const std::string& to, const std::string& subject,
                                    const std::string& body, bool recipients,
                                    const std::string& modes = "YYYYYYY") {
        const auto prepared = PrepareSend(to, subject, body, recipients);
        EXPECT_TRUE(prepared.submission) << prepared.refusal;
        if (!prepared.submission)
            return {};
        auto m = *prepared.submission;
        tavo::text::FoldName(m.addressList.data(), m.addressList.size());
        std::vector<std::string> names;
        for (std::size_t i = 0; i < m.addressList.size(); i += 10)
            names.push_back(m.addressList.substr(i, 10));
        return tavo::codepage::ToEbcdic(
            testsupport::SendRecord(names, m.subject.empty() ? m.body : m.subject + "@@" + m.body,
                                    recipients ? "*RCP" : "*GRP", modes));
    }

    // A settings file as the Delivery modes dialog writes it.
    static void WriteSettings(const std::string& system, const std::string& flags) {
        testsupport::WriteFile(testsupport::Record(system + "\r\n" + flags));
    }

    hostdtest::ScratchDir daemonDir{"cli"}; // for a tavo400-hostd the test starts

  private:
    hostdtest::ScopedEnv config_{"XDG_CONFIG_HOME", (dir / "config").string()};
    hostdtest::ScopedEnv data_{"XDG_DATA_HOME", (dir / "data").string()};
    hostdtest::ScopedEnv systems_{"TAVO400_SYSTEMS", std::nullopt};
};

using Args = std::vector<std::string>;
using tavo::cli::kExitAccepted;
using tavo::cli::kExitBadInput;
using tavo::cli::kExitRefused;
using tavo::cli::kExitUnreachable;

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
