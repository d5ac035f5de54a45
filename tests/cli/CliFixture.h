#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "Ccsid37.h"
#include "CliText.h"
#include "HostEngine.h"
#include "HostState.h"
#include "HostdProcess.h"
#include "ProcessState.h"
#include "Records.h"
#include "SendCommand.h"
#include "SendRules.h"
#include "cwbtest.h"

// One run of tavo400-send in this process, in an empty working directory of its own
// (where "dftsys.ini" lives), with the user's configuration and data kept out of reach.
class CliFixture : public ::testing::Test {
  protected:
    void SetUp() override {
        cwbtest::Reset();
        ResetHostState();
        ResetProcessState();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir.path());
        for (const char* name : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "TAVO400_SYSTEMS"}) {
            const char* value = std::getenv(name);
            saved_.push_back({name, value ? std::optional<std::string>(value) : std::nullopt});
        }
        ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
        ::unsetenv("TAVO400_SYSTEMS");
    }
    void TearDown() override {
        cwbtest::Reset();
        ResetHostState();
        ResetProcessState();
        std::filesystem::current_path(previous_);
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
    }

    struct Outcome {
        int code;
        std::string out;
        std::string err;
    };

    // A later run of the command is a new process: only the host keeps its state.
    Outcome Run(const std::vector<std::string>& args, const std::string& input = {},
                bool terminal = true) {
        ResetHostState();
        ResetProcessState();
        std::istringstream in(input);
        std::ostringstream out, err;
        const int code = tavo::cli::RunSendCommand(args, {in, out, err, terminal});
        return {code, out.str(), err.str()};
    }

    // The record the window's Send command puts on the wire for these fields, in EBCDIC.
    static std::string WindowRecord(const std::string& to, const std::string& subject,
                                    const std::string& body, bool recipients,
                                    const DeliveryModeFlags& modes = {}) {
        const auto prepared = PrepareSend(to, subject, body, recipients);
        EXPECT_TRUE(prepared.submission) << prepared.refusal;
        if (!prepared.submission)
            return {};
        const auto& m = *prepared.submission;
        std::string record(records::kSendRecordLength, ' ');
        records::BuildSendRecord(m.kind, m.count, m.addressList,
                                 records::MessageText(m.subject, m.body), modes, record.data());
        return tavo::codepage::ToEbcdic(record);
    }

    // A settings file as the Delivery modes dialog writes it.
    static void WriteSettings(const std::string& system, const std::string& flags) {
        std::string record = system + "\r\n" + flags;
        record.resize(300, ' ');
        std::ofstream("dftsys.ini", std::ios::binary | std::ios::trunc) << record;
    }

    hostdtest::ScratchDir dir{"cli"};

  private:
    std::filesystem::path previous_;
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

using Args = std::vector<std::string>;
using tavo::cli::kExitAccepted;
using tavo::cli::kExitBadInput;
using tavo::cli::kExitRefused;
using tavo::cli::kExitUnreachable;

inline bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}
