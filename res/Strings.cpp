#include "Strings.h"

#include <map>

namespace {

const std::map<unsigned, std::string_view>& Table() {
    static const std::map<unsigned, std::string_view> table = {
        {128, "TAVO/400 Express\n\nTAVO/400 Express\n\n\nTAVO/400 Express.Document\n"
              "TAVO/400 Express Document"},
        {129, "Unable to obtain connection to %1, return code %2"},
        {131, "Select Recipients"},
        {132, "Recipient"},
        {133, "Description"},
        {134, "TAVO/400 Express"},
        {136, "Send"},
        {137, "Please select a host AS/400 before attempting to send a message.  If no systems "
              "are shown, please verify that at least one AS/400 is defined in Client Access."},
        {138, "Group"},
        {139, "Description"},
        {140, "Select Groups"},
        {141, "Please select a delivery mode."},
        {142, "Sign on to %1"},
        {143, "Change password on %1"},
        {144, "Your password on %1 expires in %2 days. Change it now?"},
        {145, "The new password and its confirmation differ. Type the new password twice."},
        {146, "Please give the user ID, the current password and the new password."},
        {147, "The password on %1 was changed. It is used until the program ends; a password "
              "in the systems file is not changed."},
        {148, "The password on %1 has expired. Choose a new one."},
        {32772, "Send the message to the specified recipients\nSend Message"},
        {32773, "Changes the system to notify\nChange system"},
        {32774, "Changes the delivery modes\nChange delivery"},
        {57344, "TAVO/400 Express"},
        {57345, "For Help, press F1"},
        {57346, "Select an object on which to get Help"},
        {57602, "Close the active document\nClose"},
        {57616, "Open this document"},
        {57617, "Open this document"},
        {57618, "Open this document"},
        {57619, "Open this document"},
        {57620, "Open this document"},
        {57621, "Open this document"},
        {57622, "Open this document"},
        {57623, "Open this document"},
        {57624, "Open this document"},
        {57625, "Open this document"},
        {57626, "Open this document"},
        {57627, "Open this document"},
        {57628, "Open this document"},
        {57629, "Open this document"},
        {57630, "Open this document"},
        {57631, "Open this document"},
        {57632, "Erase the selection\nErase"},
        {57633, "Erase everything\nErase All"},
        {57634, "Copy the selection and put it on the Clipboard\nCopy"},
        {57635, "Cut the selection and put it on the Clipboard\nCut"},
        {57636, "Find the specified text\nFind"},
        {57637, "Insert Clipboard contents\nPaste"},
        {57640, "Repeat the last action\nRepeat"},
        {57641, "Replace specific text with different text\nReplace"},
        {57642, "Select the entire document\nSelect All"},
        {57643, "Undo the last action\nUndo"},
        {57644, "Redo the previously undone action\nRedo"},
        {57653, "Split the active window into panes\nSplit"},
        {57664, "Display program information, version number and copyright\nAbout"},
        {57665, "Quit the application; prompts to save documents\nExit"},
        {57666, "Opens Help\nHelp Topics"},
        {57667, "List Help topics\nHelp Topics"},
        {57668, "Display instructions about how to use help\nHelp"},
        {57669, "Display help for clicked on buttons, menus and windows\nHelp"},
        {57670, "Display help for current task or command\nHelp"},
        {57680, "Switch to the next window pane\nNext Pane"},
        {57681, "Switch back to the previous window pane\nPrevious Pane"},
        {59136, "EXT"},
        {59137, "CAP"},
        {59138, "NUM"},
        {59139, "SCRL"},
        {59140, "OVR"},
        {59141, "REC"},
        {59392, "Show or hide the toolbar\nToggle ToolBar"},
        {59393, "Show or hide the status bar\nToggle StatusBar"},
        {61184, "Change the window size"},
        {61185, "Change the window position"},
        {61186, "Reduce the window to an icon"},
        {61187, "Enlarge the window to full size"},
        {61188, "Switch to the next document window"},
        {61189, "Switch to the previous document window"},
        {61190, "Close the active window and prompts to save the documents"},
        {61202, "Restore the window to normal size"},
        {61203, "Activate Task List"},
        {61445, "Close print preview mode\nCancel Preview"},
    };
    return table;
}

} // namespace

std::string LoadString(unsigned id) {
    auto it = Table().find(id);
    return it == Table().end() ? std::string() : std::string(it->second);
}

std::string FormatString(std::string_view pattern, std::initializer_list<std::string_view> args) {
    std::string out;
    out.reserve(pattern.size());
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        const char c = pattern[i];
        if (c == '%' && i + 1 < pattern.size() && pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
            const auto index = static_cast<std::size_t>(pattern[i + 1] - '1');
            if (index < args.size())
                out += *(args.begin() + index);
            ++i;
            continue;
        }
        out += c;
    }
    return out;
}

std::string LastStringField(std::string_view text) {
    // As strtok splits: runs of the delimiter count as one, empty pieces are skipped.
    std::string_view last;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const auto end = text.find('\n', pos);
        const auto piece =
            text.substr(pos, end == std::string_view::npos ? text.size() - pos : end - pos);
        if (!piece.empty())
            last = piece;
        if (end == std::string_view::npos)
            break;
        pos = end + 1;
    }
    return std::string(last);
}
