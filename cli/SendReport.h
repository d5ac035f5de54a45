#pragma once

// What tavo400-send reads and writes besides the host: a file given for the body, the
// report on standard error, and the JSON result.
#include <cstddef>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "MessagePresenter.h"
#include "ProcessState.h"

namespace tavo::cli {

inline constexpr const char* kProgram = "tavo400-send";

struct ModeName {
    const char* name;
    int DeliveryModeFlags::*flag;
};
// In record order: the message queue comes before the telephone.
inline constexpr ModeName kModeNames[] = {
    {"pager", &DeliveryModeFlags::Pager},       {"email", &DeliveryModeFlags::Email},
    {"fax", &DeliveryModeFlags::Fax},           {"netmsg", &DeliveryModeFlags::NetworkMessage},
    {"msgq", &DeliveryModeFlags::MessageQueue}, {"phone", &DeliveryModeFlags::Telephone},
    {"spool", &DeliveryModeFlags::SpooledFile},
};

// The command's --help: what it does, and what follows the options.
extern const char* const kHelpDescription;
extern const char* const kHelpFooter;

std::vector<std::string> ModesOn(const DeliveryModeFlags& modes);
std::string Joined(const std::vector<std::string>& items, const char* separator);

// Every message box of the run and the command's own errors go to standard error as
// they come, and are kept for the JSON result.
class Reporter final : public IMessagePresenter {
  public:
    Reporter(std::ostream& err, bool verbose);
    ~Reporter() override;
    Reporter(const Reporter&) = delete;
    Reporter& operator=(const Reporter&) = delete;

    // A box's words, unchanged but for the line ends.
    void ShowMessage(std::string_view latin1) override;
    // A status line is the command's own line, as an error.
    void ShowStatus(std::string_view latin1) override;
    void Error(const std::string& utf8);
    void Note(const std::string& utf8);
    int Boxes() const { return boxes_; }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    void Emit(std::string line, std::string_view indent);

    std::ostream& err_;
    bool verbose_;
    IMessagePresenter* previous_;
    int boxes_ = 0;
    std::vector<std::string> lines_;
};

// At most `most` bytes of a regular file. A FIFO or a device would be waited on, or read
// without end, so it is refused; nullopt with `why` (" is a FIFO ...", ": No such ...").
std::optional<std::string> ReadRegularFile(const std::string& path, std::size_t most,
                                           std::string& why);

} // namespace tavo::cli
