#include "capture/session_setup.h"

#include "capture/encode_options.h"
#include "capture/encoder/errors.h"
#include "capture/files.h"
#include "capture/profiles.h"
#include "capture/run_state.h"
#include "capture/user_interface.h"

#include <array>
#include <cctype>
#include <filesystem>
#include <system_error>
#include <utility>

namespace capture {

namespace {

std::string lowerCase(std::string_view text) {
    std::string lower(text);
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return lower;
}

std::string upperCase(std::string_view text) {
    std::string upper(text);
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper;
}

// The text after the last "." of the file name; "x." has none.
std::string extensionOf(std::string_view path) {
    const std::string name = pathText(toPath(path).filename());
    const size_t dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot + 1);
}

// The output name inside a folder keeps the doubled separator it has always had; the file system reads
// it as one.
#ifdef _WIN32
constexpr std::string_view kFolderJoin = "\\\\";
#else
constexpr std::string_view kFolderJoin = "//";
#endif

std::shared_ptr<encoder::ISource> sourceOf(int32_t type) {
    return type == encoder::kAudio ? g_objAudioSource : g_objVideoSource;
}

// The display name of the codec of the loaded profile's audience for one stream.
void takeSessionCodecName(int32_t type, StepRunner& steps) {
    const bool audio = type == encoder::kAudio;
    std::shared_ptr<encoder::IAudience> audience;
    if (!steps.set(audience, [&] { return g_objProfile->Audience(0); }) || !audience)
        return;
    const auto index = steps.value([&] { return audio ? audience->AudioCodec(0) : audience->VideoCodec(0); });
    if (!index)
        return;
    steps.set(audio ? g_audioCodecName : g_videoCodecName, [&] {
        return audio ? g_objProfile->EnumAudioCodec(*index) : g_objProfile->EnumVideoCodec(*index);
    });
}

bool loadSessionFile() {
    EncodeOptions& o = g_options;
    StepRunner steps;
    steps.run([&] { g_objEncoder->Load(absolutePath(o.sessionFile)); });
    steps.set(g_objSourceGroup, [&] { return g_objEncoder->SourceGroupCollection().Item(0); });
    g_objProfile = g_encoderFactory->CreateProfile();
    if (const auto group = g_objSourceGroup) {
        steps.run([&] { g_objProfile->LoadFromIWMProfile(*group->Profile()); });
        for (int32_t type : {encoder::kAudio, encoder::kVideo}) {
            if (steps.value([&] { return group->SourceCount(type); }) > 0) {
                steps.set(type == encoder::kAudio ? g_objAudioSource : g_objVideoSource,
                          [&] { return group->Source(type, 0); });
                takeSessionCodecName(type, steps);
            }
        }
    }
    g_needProfileDefaults = false;
    if (o.maxPacket == -1 && g_objSourceGroup)
        steps.set(o.maxPacket, [&] { return g_objSourceGroup->Profile()->MaxPacketSize(); });
    if (steps.lastError() || !g_objSourceGroup) {
        OutputInfo("Loading the session (.wme) file failed: " + o.sessionFile);
        return false;
    }
    return true;
}

// A capture device by its number; false (with the message) when there is no such device.
bool addDevice(int32_t type, int number, std::shared_ptr<encoder::ISource>& source, std::string_view message,
               StepRunner& steps) {
    if (number == -1)
        return true;
    const std::string name = GetDeviceNameFromIndex(type, number);
    if (name.empty()) {
        OutputInfo(message);
        return false;
    }
    if (steps.set(source, [&] { return g_objSourceGroup->AddSource(type); }) && source)
        steps.run([&] { source->SetInput(name, "device"); });
    return true;
}

void addFileSources(const std::string& path, StepRunner& steps) {
    const EncodeOptions& o = g_options;
    encoder::ISourceGroup& group = *g_objSourceGroup;
    if (o.audioOnly || o.videoOnly) {
        const int32_t type = o.audioOnly ? encoder::kAudio : encoder::kVideo;
        auto& source = o.audioOnly ? g_objAudioSource : g_objVideoSource;
        if (steps.set(source, [&] { return group.AddSource(type); }) && source)
            steps.run([&] { source->SetInput(path); });
        return;
    }
    steps.run([&] { group.AutoSetFileSource(path); });
    if (steps.value([&] { return group.SourceCount(encoder::kAudio); }) > 0)
        steps.set(g_objAudioSource, [&] { return group.Source(encoder::kAudio, 0); });
    if (steps.value([&] { return group.SourceCount(encoder::kVideo); }) > 0)
        steps.set(g_objVideoSource, [&] { return group.Source(encoder::kVideo, 0); });
}

// The screen, and with the codes that record sound, the default sound input.
void addScreenSources(const std::string& code, StepRunner& steps) {
    encoder::ISourceGroup& group = *g_objSourceGroup;
    if (code.starts_with("scrn")) {
        steps.set(g_objVideoSource, [&] { return group.AddSource(encoder::kVideo); });
        if (steps.value([&] { return group.SourceCount(encoder::kAudio); }) > 0)
            steps.set(g_objAudioSource, [&] { return group.Source(encoder::kAudio, 0); });
        if (steps.value([&] { return group.SourceCount(encoder::kVideo); }) > 0)
            steps.set(g_objVideoSource, [&] { return group.Source(encoder::kVideo, 0); });
        if (const auto video = g_objVideoSource)
            steps.run([&] { video->SetInput("screencap1", "screencap"); });
    }
    if (code.starts_with("scrnab") || code == "scrn10a" || code == "scrn15a" || code == "scrn24a" ||
        code == "scrn30a" || code.starts_with("scrna")) {
        if (steps.set(g_objAudioSource, [&] { return group.AddSource(encoder::kAudio); }) && g_objAudioSource)
            steps.run([&] { g_objAudioSource->SetInput("Default_Audio_Device", "device"); });
    }
}

void takeContentType(StepRunner& steps) {
    encoder::ISourceGroup& group = *g_objSourceGroup;
    const int32_t audio = steps.value([&] { return group.SourceCount(encoder::kAudio); }).value_or(0);
    const int32_t video = steps.value([&] { return group.SourceCount(encoder::kVideo); }).value_or(0);
    if (audio != 0 && video != 0)
        g_contentType = encoder::kAudioVideo;
    else if (audio != 0)
        g_contentType = encoder::kAudioOnly;
    else if (video != 0)
        g_contentType = encoder::kVideoOnly;
}

struct PixelFormat {
    std::string_view name;
    uint32_t value;
};

// YUV formats by their FourCC; RGB formats by the first 32 bits of their media subtype.
constexpr std::array<PixelFormat, 12> kPixelFormats = {{
    {"I420", 0x30323449},
    {"IYUV", 0x56555949},
    {"YV12", 0x32315659},
    {"YUY2", 0x32595559},
    {"UYVY", 0x59565955},
    {"YVYU", 0x55595659},
    {"YVU9", 0x39555659},
    {"RGB24", 0xE436EB7D},
    {"RGB32", 0xE436EB7E},
    {"RGB555", 0xE436EB7C},
    {"RGB565", 0xE436EB7B},
    {"RGB8", 0xE436EB7A},
}};

} // namespace

int32_t optimizationForPreprocess(int mode) {
    if (mode == 0)
        return 1;
    if (mode >= 1 && mode <= 4)
        return 2;
    if (mode == 5)
        return 3;
    if (mode >= 6 && mode <= 15)
        return 35 + 16 * (mode - 6);
    if (mode == 16)
        return 4;
    if (mode == 17)
        return 0x2004;
    if (mode == 18)
        return 0x3004;
    return -1;
}

uint32_t pixelFormatValue(std::string_view name) {
    const std::string upper = upperCase(name);
    for (const PixelFormat& f : kPixelFormats) {
        if (f.name == upper)
            return f.value;
    }
    return 0;
}

bool SetupEncoder() {
    if (!CreateSourceGroup() || !SetupInput() || !SetupProfile() || !SetupOutput() || !SetupTime() ||
        !SetupDisplayInfo())
        return false;
    g_objEncoder->AutoStop(true);
    return true;
}

bool CreateSourceGroup() {
    if (!g_options.sessionFile.empty())
        return loadSessionFile();
    g_objSourceGroup = g_objEncoder->SourceGroupCollection().Add("SG_1");
    return true;
}

bool SetupInput() {
    EncodeOptions& o = g_options;
    const std::string code = lowerCase(o.profileCode);
    const bool fileInput = !o.inputPath.empty();
    // Attaching a file reports its failures at the end; devices and the screen let them go up.
    StepRunner steps(fileInput);
    if (fileInput) {
        const std::string path = absolutePath(o.inputPath);
        if (!code.empty()) {
            if (code[0] == 'a' && (code.size() < 2 || code[1] != 'v'))
                o.audioOnly = true;
            else if (code[0] == 'v')
                o.videoOnly = true;
        }
        addFileSources(path, steps);
    } else if (!addDevice(encoder::kAudio, o.audioDevice, g_objAudioSource,
                          "Error: Invalid audio device number specified", steps) ||
               !addDevice(encoder::kVideo, o.videoDevice, g_objVideoSource,
                          "Error: Invalid video device number specified", steps)) {
        return false;
    }
    addScreenSources(code, steps);
    takeContentType(steps);
    if (g_objAudioSource)
        SetupAudioSource(steps);
    if (g_objVideoSource)
        SetupVideoSource(steps);

    if (const auto& error = steps.lastError()) {
        OutputInfo("Error: 0x" + hexNumber(error->number) + " - " + error->description);
        steps.clear();
        return false;
    }
    return true;
}

void SetupAudioSource(StepRunner& steps) {
    const EncodeOptions& o = g_options;
    encoder::ISource& audio = *g_objAudioSource;
    if (o.audioContentMode != -1)
        steps.run([&] { audio.ContentMode(o.audioContentMode); });
    if (!o.audioContentEdl.empty())
        steps.run([&] { audio.ContentEDL(o.audioContentEdl); });
}

void SetupVideoSource(StepRunner& steps) {
    const EncodeOptions& o = g_options;
    encoder::ISource& video = *g_objVideoSource;
    if (const int32_t optimization = optimizationForPreprocess(o.videoPreprocess); optimization != -1) {
        steps.run([&] { video.Optimization(optimization); });
        if (o.videoPreprocess >= 2 && o.videoPreprocess <= 4)
            OutputInfo("Preprocessing mode not supported. Use -height and -width to adjust video size.");
    }
    if (const uint32_t format = pixelFormatValue(o.pixelFormat); format != 0)
        steps.run([&] { video.PixelFormat(static_cast<int32_t>(format)); });
    if (o.pixelRatioX != -1)
        steps.run([&] { video.PixelAspectRatioX(o.pixelRatioX); });
    if (o.pixelRatioY != -1)
        steps.run([&] { video.PixelAspectRatioY(o.pixelRatioY); });
    if (o.videoPerformance != -1)
        steps.run([&] { g_objEncoder->VideoComplexity(o.videoPerformance); });
    if (o.clipLeft != -1)
        steps.run([&] { video.CroppingLeftMargin(o.clipLeft); });
    if (o.clipRight != -1)
        steps.run([&] { video.CroppingRightMargin(o.clipRight); });
    if (o.clipTop != -1)
        steps.run([&] { video.CroppingTopMargin(o.clipTop); });
    if (o.clipBottom != -1)
        steps.run([&] { video.CroppingBottomMargin(o.clipBottom); });
}

bool PluginOffersDevices(const encoder::IPluginInfo& plugin, int32_t type) {
    if (!plugin.Resources())
        return false;
    const int32_t media = plugin.MediaType();
    return type == encoder::kAudio ? media == 1 || media == 3 : media == 2 || media == 3 || media == 6;
}

std::string GetDeviceNameFromIndex(int32_t type, int number) {
    if (number < 0)
        return {};
    encoder::IPluginInfoManager& plugins = g_objEncoder->SourcePluginInfoManager();
    int counted = 0;
    for (int32_t i = 0; i < plugins.count(); ++i) {
        const std::shared_ptr<encoder::IPluginInfo> plugin = plugins.Item(i);
        if (!PluginOffersDevices(*plugin, type))
            continue;
        const int32_t devices = plugin->count();
        if (number < counted + devices)
            return plugin->Item(number - counted);
        counted += devices;
    }
    return {};
}

bool SetupOutput() {
    EncodeOptions& o = g_options;
    encoder::IEncoder& enc = *g_objEncoder;
    if (!o.outputPath.empty()) {
        std::error_code error;
        if (std::filesystem::is_directory(toPath(o.outputPath), error)) {
            o.outputPath += kFolderJoin;
            o.outputPath +=
                o.inputPath.empty() ? std::string("output") : pathText(toPath(o.inputPath).stem());
        }
        if (extensionOf(o.outputPath).empty()) {
            if (!o.outputPath.ends_with('.'))
                o.outputPath += '.';
            o.outputPath += g_objSourceGroup->SourceCount(encoder::kVideo) > 0 ? "wmv" : "wma";
        }
        CreateOutputFolder(parentFolder(absolutePath(o.outputPath)));
        enc.File().LocalFileName(o.outputPath);
    } else {
        o.outputPath = enc.File().LocalFileName();
    }
    if (o.broadcastPort != -1)
        enc.Broadcast().PortNumber(encoder::kHttp, o.broadcastPort);
    if (!o.pushServer.empty()) {
        enc.Broadcast().ServerName(o.pushServer);
        enc.Broadcast().PublishingPoint(o.pushPublishingPoint);
        if (!o.pushTemplate.empty())
            enc.Broadcast().Template(o.pushTemplate);
    }
    return true;
}

bool SetupTime() {
    const EncodeOptions& o = g_options;
    if (o.captureDevices && o.duration == -1) {
        OutputInfo("Duration must be specified when capturing from devices.");
        return false;
    }
    const std::array<std::shared_ptr<encoder::ISource>, 2> sources = {g_objAudioSource, g_objVideoSource};
    if (o.markIn != -1) {
        for (const auto& source : sources) {
            if (source)
                source->MarkIn(o.markIn);
        }
    }
    if (o.markOut != -1) {
        for (const auto& source : sources) {
            if (source)
                source->MarkOut(o.markOut);
        }
    }
    return true;
}

bool SetupDisplayInfo() {
    const EncodeOptions& o = g_options;
    encoder::IDisplayInfo& info = g_objEncoder->DisplayInfo();
    if (!o.title.empty())
        info.Title(o.title);
    if (!o.author.empty())
        info.Author(o.author);
    if (!o.copyright.empty())
        info.Copyright(o.copyright);
    if (!o.description.empty())
        info.Description(o.description);
    if (!o.rating.empty())
        info.Rating(o.rating);
    if (o.foldDownSurround != -1) {
        // The levels are typed as positive numbers of decibels below full level.
        encoder::IAttributes& attributes = g_objEncoder->Attributes();
        attributes.Add("SurroundMix", -o.foldDownSurround);
        attributes.Add("CenterMix", -o.foldDownCenter);
        attributes.Add("LFEMix", -o.foldDownLfe);
    }
    return true;
}

bool Transcode(const std::function<void()>& beforeStart) {
    encoder::IEncoder& enc = *g_objEncoder;
    StepRunner steps;
    steps.run([&] { enc.PrepareToEncode(true); });
    if (const auto& error = steps.lastError()) {
        if (error->number != encoder::errors::kMarkOutBeyondLength) {
            OutputInfo("Prepare to encode failed with error " + decimalNumber(error->number) + " " +
                       error->description);
            return false;
        }
        // A mark-out beyond the input's length: encode to the end instead.
        steps.clear();
        for (int32_t type : {encoder::kAudio, encoder::kVideo}) {
            if (const auto source = sourceOf(type))
                steps.run([&] { source->MarkOut(0); });
        }
        steps.run([&] { enc.PrepareToEncode(true); });
    }
    if (beforeStart)
        beforeStart();
    steps.run([&] { enc.Start(); });
    if (const auto& error = steps.lastError()) {
        OutputInfo("Start encoder failed with error " + decimalNumber(error->number) + " " +
                   error->description);
        return false;
    }
    g_startTime = std::chrono::system_clock::now();
    return true;
}

} // namespace capture
