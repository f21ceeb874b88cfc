// The command language: a command is split into words at single blanks, and ParseParameters reads the
// words into g_options. Readers print their own message through OutputInfo and return their failure
// value (-1 or an empty text); every caller then stops without a second message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace capture {

using Words = std::vector<std::string>;

// Splits at every single blank: two blanks in a row give an empty word, an empty text gives no words.
Words SplitCommand(std::string_view text);

// The value word at valueIndex; optionIndex names the option in messages. A value word that is missing
// or starts with "-" prints "Invalid format for parameter <option>" and fails.
std::string ReadString(const Words& words, std::size_t optionIndex, std::size_t valueIndex); // "" on failure
int ReadInteger(const Words& words, std::size_t optionIndex, std::size_t valueIndex);        // -1 on failure
float ReadFloat(const Words& words, std::size_t optionIndex, std::size_t valueIndex);        // -1 on failure
int ConvertStringToInteger(std::string_view text);                                           // -1 on failure

// Configuration files loading configuration files stop at this depth, so a file that loads itself,
// directly or through others, ends with a message instead of exhausting the stack.
inline constexpr int kConfigNestingLimit = 16;

// The information commands need the encoder; whoever owns it carries them out for the parser.
class InformationCommands {
public:
    virtual ~InformationCommands() = default;
    virtual void ListDevices() = 0;
    virtual void ListAudioCodecs() = 0;
    virtual void ListAudioFormats() = 0;
    virtual void ListVideoCodecs() = 0;
    virtual void ShowHelpChm() = 0;
    // Describes g_options.inputPath.
    virtual void PrintFileInfo() = 0;
};

// Until one is installed, those commands are accepted and do nothing.
void setInformationCommands(InformationCommands* commands);

// True: g_options is filled and the run may go on. False: stop; the reason has been printed, or a
// listing, help or file-information command was carried out. A configuration file that cannot be read,
// or one that -s_config cannot write, raises std::system_error for the Go action's error handler.
bool ParseParameters(const Words& words);

} // namespace capture
