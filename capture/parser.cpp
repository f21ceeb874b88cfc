#include "capture/parser.h"

#include "capture/encode_options.h"
#include "capture/files.h"
#include "capture/help.h"
#include "capture/user_interface.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <optional>
#include <utility>

namespace capture {

namespace {

InformationCommands* g_informationCommands = nullptr;

bool startsOption(std::string_view word) {
    return !word.empty() && word.front() == '-';
}

// Option names are ASCII; other characters pass unchanged.
std::string lowerCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    return out;
}

std::string upperCase(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
    return out;
}

std::string_view trimBlanks(std::string_view text, std::string_view blanks = " ") {
    std::size_t first = text.find_first_not_of(blanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

// A plain decimal number: blanks around it, an optional "+", digits, an optional fraction. There is no
// "-": a value word may not start with one, and a negative value would read as "not given".
struct Decimal {
    std::string_view whole;
    std::string_view fraction;
};

std::optional<Decimal> splitDecimal(std::string_view text) {
    text = trimBlanks(text, " \t");
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    auto isDigit = [](char c) {
        return c >= '0' && c <= '9';
    };
    std::size_t wholeEnd = std::find_if_not(text.begin(), text.end(), isDigit) - text.begin();
    Decimal d{text.substr(0, wholeEnd), {}};
    std::string_view rest = text.substr(wholeEnd);
    if (!rest.empty() && rest.front() == '.') {
        rest.remove_prefix(1);
        std::size_t fractionEnd = std::find_if_not(rest.begin(), rest.end(), isDigit) - rest.begin();
        d.fraction = rest.substr(0, fractionEnd);
        rest.remove_prefix(fractionEnd);
    }
    if (!rest.empty() || (d.whole.empty() && d.fraction.empty()))
        return std::nullopt;
    return d;
}

// Rounded to the nearest whole number, halves to the even one.
std::optional<int> toInteger(std::string_view text) {
    std::optional<Decimal> d = splitDecimal(text);
    if (!d)
        return std::nullopt;
    long long value = 0;
    for (char c : d->whole) {
        value = value * 10 + (c - '0');
        if (value > INT_MAX)
            return std::nullopt;
    }
    if (!d->fraction.empty()) {
        char first = d->fraction.front();
        bool moreAfterFirst = d->fraction.find_first_not_of('0', 1) != std::string_view::npos;
        if (first > '5' || (first == '5' && (moreAfterFirst || value % 2 == 1)))
            ++value;
    }
    if (value > INT_MAX)
        return std::nullopt;
    return static_cast<int>(value);
}

std::optional<float> toFloat(std::string_view text) {
    std::optional<Decimal> d = splitDecimal(text);
    if (!d)
        return std::nullopt;
    std::string plain = d->whole.empty() ? "0" : std::string(d->whole);
    if (!d->fraction.empty())
        plain += "." + std::string(d->fraction);
    float value = 0;
    auto [end, error] = std::from_chars(plain.data(), plain.data() + plain.size(), value);
    if (error != std::errc() || end != plain.data() + plain.size())
        return std::nullopt;
    return value;
}

// The check every reader makes before it looks at the value.
bool hasValueWord(const Words& words, std::size_t optionIndex, std::size_t valueIndex) {
    if (valueIndex < words.size() && !startsOption(words[valueIndex]))
        return true;
    OutputInfo("Invalid format for parameter " + words[optionIndex]);
    return false;
}

// The main pass at one option: the option word and the value words it has used so far.
struct OptionWords {
    const Words& words;
    std::size_t option;
    std::size_t last;         // the last word used; the pass goes on after it
    std::string configToSave; // -s_config, written after the pass

    const std::string& name() const { return words[option]; }
    bool hasOptionalValue() const { return last + 1 < words.size() && !startsOption(words[last + 1]); }

    // Each reads the next value word into `value`; on failure the reader has printed why and `value`
    // keeps what it held, since the record outlives the failed command.
    bool text(std::string& value) {
        std::string read = ReadString(words, option, ++last);
        if (read.empty())
            return false;
        value = std::move(read);
        return true;
    }
    template <typename Number> bool number(Number& value) {
        int read = ReadInteger(words, option, ++last);
        if (read == -1)
            return false;
        value = read;
        return true;
    }
    bool decimal(float& value) {
        float read = ReadFloat(words, option, ++last);
        if (read == -1)
            return false;
        value = read;
        return true;
    }
    bool outOfRange() const {
        OutputInfo("Invalid range for parameter " + name());
        return false;
    }
};

using OptionHandler = bool (*)(OptionWords&);

struct Option {
    std::string_view name;
    OptionHandler handle;
};

template <auto... Fields> bool setTexts(OptionWords& w) {
    return (w.text(g_options.*Fields) && ...);
}

// Read one after the other; values read before a failure stay.
template <auto... Fields> bool setNumbers(OptionWords& w) {
    return (w.number(g_options.*Fields) && ...);
}

template <auto Field> bool setFlag(OptionWords&) {
    g_options.*Field = true;
    return true;
}

// The device number is optional: without one the first device of its kind.
template <auto Field> bool setDevice(OptionWords& w) {
    g_options.captureDevices = true;
    if (!w.hasOptionalValue()) {
        g_options.*Field = 0;
        return true;
    }
    return w.number(g_options.*Field);
}

// Like every refused value, an unknown codec name is not stored.
template <auto Field, std::size_t N>
bool setCodec(OptionWords& w, const std::array<std::string_view, N>& names, const char* complaint) {
    std::string value;
    w.text(value);
    value = upperCase(value);
    if (std::find(names.begin(), names.end(), value) == names.end()) {
        OutputInfo(complaint);
        return false;
    }
    g_options.*Field = value;
    return true;
}

bool setAudioCodec(OptionWords& w) {
    return setCodec<&EncodeOptions::audioCodec>(w, kAudioCodecNames,
                                                "Please enter correct audio codec index only");
}

bool setVideoCodec(OptionWords& w) {
    return setCodec<&EncodeOptions::videoCodec>(w, kVideoCodecNames,
                                                "Please enter correct video codec index only");
}

bool setAudioContent(OptionWords& w) {
    int mode;
    if (!w.number(mode))
        return false;
    if (mode > 2)
        return w.outOfRange();
    g_options.audioContentMode = mode;
    return true;
}

bool setFrameRate(OptionWords& w) {
    float rate;
    if (!w.decimal(rate))
        return false;
    float thousandths = rate * 1000;
    if (!std::isfinite(thousandths))
        return w.outOfRange();
    g_options.videoFrameRate = thousandths;
    return true;
}

// Given in seconds, held in milliseconds.
bool setKeyDistance(OptionWords& w) {
    int seconds;
    if (!w.number(seconds))
        return false;
    if (seconds > INT_MAX / 1000)
        return w.outOfRange();
    g_options.videoKeyDistance = seconds * 1000;
    return true;
}

// A value outside the list fails without a message.
bool setPerformance(OptionWords& w) {
    int performance;
    if (!w.number(performance))
        return false;
    if (performance % 20 != 0 || performance > 100)
        return false;
    g_options.videoPerformance = performance;
    return true;
}

bool setPreprocess(OptionWords& w) {
    int mode = ReadInteger(w.words, w.option, ++w.last);
    if (mode == -1 || mode > 18) {
        if (w.last < w.words.size())
            OutputInfo("Invalid preproc value: " + w.words[w.last]);
        return false;
    }
    g_options.videoPreprocess = mode;
    return true;
}

bool setVideoProfile(OptionWords& w) {
    std::string profile;
    if (!w.text(profile))
        return false;
    g_options.videoProfile = upperCase(profile);
    return true;
}

bool setBroadcast(OptionWords& w) {
    if (!w.hasOptionalValue()) {
        g_options.broadcastPort = 8080;
        return true;
    }
    return w.number(g_options.broadcastPort);
}

bool setPush(OptionWords& w) {
    if (!w.text(g_options.pushServer) || !w.text(g_options.pushPublishingPoint))
        return false;
    if (w.hasOptionalValue())
        w.text(g_options.pushTemplate);
    return true;
}

bool setTime(OptionWords& w) {
    if (!w.number(g_options.markIn))
        return false;
    std::string end;
    if (!w.text(end))
        return false;
    int markOut = end == "end" ? 0 : ConvertStringToInteger(end);
    if (markOut == -1)
        return false;
    g_options.markOut = markOut;
    return true;
}

bool acceptSilent(OptionWords&) {
    return true;
}

bool checkVerbose(OptionWords& w) {
    int level;
    return w.number(level);
}

bool setConfigToSave(OptionWords& w) {
    return w.text(w.configToSave);
}

// The file was read by the first pass, which recognises "-config" only in lower case.
bool skipConfig(OptionWords& w) {
    if (w.name() != "-config")
        return false;
    ++w.last;
    return true;
}

using E = EncodeOptions;

// In the order the main pass tries them.
constexpr Option kOptions[] = {
    {"-wme", setTexts<&E::sessionFile>},
    {"-input", setTexts<&E::inputPath>},
    {"-audioonly", setFlag<&E::audioOnly>},
    {"-videoonly", setFlag<&E::videoOnly>},
    {"-adevice", setDevice<&E::audioDevice>},
    {"-vdevice", setDevice<&E::videoDevice>},
    {"-profile", setTexts<&E::profileCode>},
    {"-a_mode", setNumbers<&E::audioMode>},
    {"-a_codec", setAudioCodec},
    {"-a_setting", setTexts<&E::audioSetting>},
    {"-a_peakbitrate", setNumbers<&E::audioPeakBitrate>},
    {"-a_peakbuffer", setNumbers<&E::audioPeakBuffer>},
    {"-a_content", setAudioContent},
    {"-a_contentedl", setTexts<&E::audioContentEdl>},
    {"-a_folddown6to2", setNumbers<&E::foldDownSurround, &E::foldDownCenter, &E::foldDownLfe>},
    {"-v_mode", setNumbers<&E::videoMode>},
    {"-v_codec", setVideoCodec},
    {"-v_bitrate", setNumbers<&E::videoBitrate>},
    {"-v_buffer", setNumbers<&E::videoBuffer>},
    {"-v_width", setNumbers<&E::videoWidth>},
    {"-v_height", setNumbers<&E::videoHeight>},
    {"-v_framerate", setFrameRate},
    {"-v_keydist", setKeyDistance},
    {"-v_quality", setNumbers<&E::videoQuality>},
    {"-v_peakbitrate", setNumbers<&E::videoPeakBitrate>},
    {"-v_peakbuffer", setNumbers<&E::videoPeakBuffer>},
    {"-v_performance", setPerformance},
    {"-v_preproc", setPreprocess},
    {"-pixelformat", setTexts<&E::pixelFormat>},
    {"-pixelratio", setNumbers<&E::pixelRatioX, &E::pixelRatioY>},
    {"-v_clip", setNumbers<&E::clipLeft, &E::clipTop, &E::clipRight, &E::clipBottom>},
    {"-v_profile", setVideoProfile},
    {"-output", setTexts<&E::outputPath>},
    {"-outputstring", setTexts<&E::outputString>},
    {"-broadcast", setBroadcast},
    {"-push", setPush},
    {"-time", setTime},
    {"-duration", setNumbers<&E::duration>},
    {"-silent", acceptSilent},
    {"-title", setTexts<&E::title>},
    {"-author", setTexts<&E::author>},
    {"-copyright", setTexts<&E::copyright>},
    {"-description", setTexts<&E::description>},
    {"-rating", setTexts<&E::rating>},
    {"-saveprofile", setTexts<&E::saveProfileFile>},
    {"-loadprofile", setTexts<&E::loadProfileFile>},
    {"-verbose", checkVerbose},
    {"-s_config", setConfigToSave},
    {"-config", skipConfig},
    {"-maxpacket", setNumbers<&E::maxPacket>},
    {"-minpacket", setNumbers<&E::minPacket>},
};

const Option* findOption(std::string_view lowerName) {
    auto found = std::find_if(std::begin(kOptions), std::end(kOptions),
                              [&](const Option& o) { return o.name == lowerName; });
    return found == std::end(kOptions) ? nullptr : found;
}

bool parseParameters(const Words& words, int depth);

bool loadConfiguration(std::string_view name, int depth) {
    std::string path = absolutePath(name);
    if (depth >= kConfigNestingLimit) {
        OutputInfo("Configuration file " + path + " not read: configuration files nest more than " +
                   std::to_string(kConfigNestingLimit) + " deep");
        return false;
    }
    const std::string firstLine = readFirstLine(path);
    std::string_view line = trimBlanks(firstLine);
    if (line.empty()) {
        OutputInfo("Configuration file " + path + " is empty");
        return false;
    }
    return parseParameters(SplitCommand(line), depth + 1);
}

// The one-word commands; false when the word is none of them.
bool runInformationCommand(std::string_view word) {
    using Command = void (InformationCommands::*)();
    static constexpr std::pair<std::string_view, Command> kCommands[] = {
        {"-devices", &InformationCommands::ListDevices},
        {"-a_codecs", &InformationCommands::ListAudioCodecs},
        {"-a_formats", &InformationCommands::ListAudioFormats},
        {"-v_codecs", &InformationCommands::ListVideoCodecs},
        {"-help?", &InformationCommands::ShowHelpChm},
    };
    std::string lower = lowerCase(word);
    if (lower == "-help" || lower == "-?" || lower == "-all?" || lower == "/?") {
        ShowHelp();
        return true;
    }
    for (const auto& [name, command] : kCommands) {
        if (lower == name) {
            if (g_informationCommands)
                (g_informationCommands->*command)();
            return true;
        }
    }
    return false;
}

void saveConfiguration(std::string_view name, std::string_view savedText) {
    std::string path = absolutePath(name);
    if (path.size() < 4 || lowerCase(path.substr(path.size() - 4)) != ".weu")
        path += ".weu";
    CreateOutputFolder(parentFolder(path));
    writeTextFile(path, savedText);
}

bool parseParameters(const Words& words, int depth) {
    // First pass: load configuration files, and collect the command as -s_config saves it.
    std::string savedText;
    for (std::size_t i = 0; i < words.size(); ++i) {
        if (words[i] == "-s_config") {
            ++i;
            continue;
        }
        savedText += words[i] + ' ';
        if (words[i] == "-config") {
            std::string name = ReadString(words, i, i + 1);
            if (name.empty())
                return false;
            ++i;
            // Kept with its option so that the saved file loads; as typed, since an absolute path
            // could hold blanks.
            savedText += name + ' ';
            if (!loadConfiguration(name, depth))
                return false;
        }
    }

    if (words.size() == 1 && runInformationCommand(words[0]))
        return false;
    if (words.size() == 2 && lowerCase(words[0]) == "-input") {
        std::string input = ReadString(words, 0, 1);
        if (!input.empty()) {
            g_options.inputPath = input;
            if (g_informationCommands)
                g_informationCommands->PrintFileInfo();
        }
        return false;
    }

    OptionWords w{words, 0, 0, {}};
    for (std::size_t i = 0; i < words.size(); i = w.last + 1) {
        const Option* option = findOption(lowerCase(words[i]));
        if (!option) {
            OutputInfo("Invalid parameter: " + words[i]);
            return false;
        }
        w.option = w.last = i;
        if (!option->handle(w))
            return false;
    }

    if (!w.configToSave.empty())
        saveConfiguration(w.configToSave, savedText);
    return true;
}

} // namespace

Words SplitCommand(std::string_view text) {
    Words words;
    if (text.empty())
        return words;
    std::size_t start = 0;
    for (std::size_t blank; (blank = text.find(' ', start)) != std::string_view::npos; start = blank + 1)
        words.emplace_back(text.substr(start, blank - start));
    words.emplace_back(text.substr(start));
    return words;
}

std::string ReadString(const Words& words, std::size_t optionIndex, std::size_t valueIndex) {
    if (!hasValueWord(words, optionIndex, valueIndex))
        return {};
    return words[valueIndex];
}

int ReadInteger(const Words& words, std::size_t optionIndex, std::size_t valueIndex) {
    if (!hasValueWord(words, optionIndex, valueIndex))
        return -1;
    std::optional<int> value = toInteger(words[valueIndex]);
    if (!value) {
        OutputInfo("Expect integer value for parameter " + words[optionIndex]);
        return -1;
    }
    return *value;
}

float ReadFloat(const Words& words, std::size_t optionIndex, std::size_t valueIndex) {
    if (!hasValueWord(words, optionIndex, valueIndex))
        return -1;
    std::optional<float> value = toFloat(words[valueIndex]);
    if (!value) {
        OutputInfo("Expect float value for parameter " + words[optionIndex]);
        return -1;
    }
    return *value;
}

int ConvertStringToInteger(std::string_view text) {
    std::optional<int> value = toInteger(text);
    if (!value) {
        OutputInfo("Invalid format " + std::string(text) + " expecting integer value");
        return -1;
    }
    return *value;
}

void setInformationCommands(InformationCommands* commands) {
    g_informationCommands = commands;
}

bool ParseParameters(const Words& words) {
    return parseParameters(words, 0);
}

} // namespace capture
