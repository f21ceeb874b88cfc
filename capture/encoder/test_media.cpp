#include "capture/encoder/test_media.h"

#include "capture/encoder/ffmpeg.h"

extern "C" {
#include <libavutil/channel_layout.h>
}

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace encoder::testing {
namespace {

void check(int rc, const char* what) {
    if (rc < 0)
        throw std::runtime_error(std::string(what) + ": " + av::errorText(rc));
}

av::CodecPtr openVideoEncoder(const ClipSpec& spec, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder(spec.video);
    if (!codec)
        throw std::runtime_error(std::string("no encoder ") + avcodec_get_name(spec.video));
    av::CodecPtr c(avcodec_alloc_context3(codec));
    c->width = spec.width;
    c->height = spec.height;
    c->time_base = AVRational{1, spec.fps};
    c->framerate = AVRational{spec.fps, 1};
    c->pix_fmt = codec->pix_fmts ? codec->pix_fmts[0] : AV_PIX_FMT_YUV420P;
    if (spec.video == AV_CODEC_ID_MJPEG)
        c->pix_fmt = AV_PIX_FMT_YUVJ420P;
    c->bit_rate = 400000;
    c->gop_size = 12;
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(c.get(), codec, nullptr), "open video encoder");
    return c;
}

av::CodecPtr openAudioEncoder(const ClipSpec& spec, bool globalHeader) {
    const AVCodec* codec = avcodec_find_encoder(spec.audio);
    if (!codec)
        throw std::runtime_error(std::string("no encoder ") + avcodec_get_name(spec.audio));
    av::CodecPtr c(avcodec_alloc_context3(codec));
    c->sample_rate = spec.sampleRate;
    av_channel_layout_default(&c->ch_layout, spec.channels);
    c->sample_fmt = codec->sample_fmts[0];
    c->bit_rate = 128000;
    c->time_base = AVRational{1, spec.sampleRate};
    if (globalHeader)
        c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    check(avcodec_open2(c.get(), codec, nullptr), "open audio encoder");
    return c;
}

av::FramePtr picture(const AVCodecContext& c, const ClipSpec& spec, int64_t n) {
    av::FramePtr f = av::makeFrame();
    f->format = c.pix_fmt;
    f->width = c.width;
    f->height = c.height;
    check(av_frame_get_buffer(f.get(), 0), "picture buffer");
    f->pts = n;
    if (spec.draw) {
        if (c.pix_fmt != AV_PIX_FMT_YUV420P)
            throw std::runtime_error("drawn pictures need a planar 4:2:0 encoder");
        spec.draw(n, *f);
        return f;
    }
    const bool yuv = c.pix_fmt == AV_PIX_FMT_YUV420P || c.pix_fmt == AV_PIX_FMT_YUVJ420P;
    const int luma = 16 + 4 * static_cast<int>(n % 50);
    for (int plane = 0; plane < 4 && f->data[plane]; ++plane) {
        const int rows = plane == 0 || !yuv ? c.height : c.height / 2;
        for (int y = 0; y < rows; ++y)
            std::fill_n(f->data[plane] + static_cast<ptrdiff_t>(y) * f->linesize[plane], f->linesize[plane],
                        static_cast<uint8_t>(plane == 0 || !yuv ? luma : 128));
    }
    return f;
}

// A 440 Hz tone in whatever sample format the encoder takes.
av::FramePtr tone(const AVCodecContext& c, int64_t first, int count) {
    av::FramePtr f = av::makeFrame();
    f->format = c.sample_fmt;
    av_channel_layout_copy(&f->ch_layout, &c.ch_layout);
    f->sample_rate = c.sample_rate;
    f->nb_samples = count;
    check(av_frame_get_buffer(f.get(), 0), "audio buffer");
    const int channels = c.ch_layout.nb_channels;
    const bool planar = av_sample_fmt_is_planar(c.sample_fmt);
    for (int i = 0; i < count; ++i) {
        const double v = 0.3 * std::sin(2 * M_PI * 440.0 * static_cast<double>(first + i) / c.sample_rate);
        for (int ch = 0; ch < channels; ++ch) {
            const int plane = planar ? ch : 0;
            const int index = planar ? i : i * channels + ch;
            switch (c.sample_fmt) {
            case AV_SAMPLE_FMT_S16:
            case AV_SAMPLE_FMT_S16P:
                reinterpret_cast<int16_t*>(f->extended_data[plane])[index] = static_cast<int16_t>(v * 32767);
                break;
            case AV_SAMPLE_FMT_FLT:
            case AV_SAMPLE_FMT_FLTP:
                reinterpret_cast<float*>(f->extended_data[plane])[index] = static_cast<float>(v);
                break;
            case AV_SAMPLE_FMT_S32:
            case AV_SAMPLE_FMT_S32P:
                reinterpret_cast<int32_t*>(f->extended_data[plane])[index] =
                    static_cast<int32_t>(v * 2147483647.0);
                break;
            default:
                throw std::runtime_error("unexpected sample format");
            }
        }
    }
    f->pts = first;
    return f;
}

void writeStill(const std::string& path, const ClipSpec& spec) {
    av::CodecPtr c = openVideoEncoder(spec, false);
    av::FramePtr f = picture(*c, spec, 10);
    check(avcodec_send_frame(c.get(), f.get()), "encode picture");
    check(avcodec_send_frame(c.get(), nullptr), "flush picture");
    av::PacketPtr p = av::makePacket();
    check(avcodec_receive_packet(c.get(), p.get()), "picture packet");
    FILE* file = std::fopen(path.c_str(), "wb");
    if (!file)
        throw std::runtime_error("cannot create " + path);
    std::fwrite(p->data, 1, static_cast<size_t>(p->size), file);
    std::fclose(file);
}

} // namespace

ClipSpec mp3Clip() {
    if (avcodec_find_encoder(AV_CODEC_ID_MP3))
        return ClipSpec{"mp3", AV_CODEC_ID_NONE, AV_CODEC_ID_MP3};
    return ClipSpec{"mp2", AV_CODEC_ID_NONE, AV_CODEC_ID_MP2};
}

void writeClip(const std::string& path, const ClipSpec& spec) {
    if (!spec.muxer) {
        writeStill(path, spec);
        return;
    }
    AVFormatContext* raw = nullptr;
    check(avformat_alloc_output_context2(&raw, nullptr, spec.muxer, path.c_str()), "output context");
    av::OutputPtr out(raw);
    const bool globalHeader = out->oformat->flags & AVFMT_GLOBALHEADER;
    av::CodecPtr video, audio;
    AVStream* vs = nullptr;
    AVStream* as = nullptr;
    if (spec.video != AV_CODEC_ID_NONE) {
        video = openVideoEncoder(spec, globalHeader);
        vs = avformat_new_stream(out.get(), nullptr);
        avcodec_parameters_from_context(vs->codecpar, video.get());
        vs->time_base = video->time_base;
    }
    if (spec.audio != AV_CODEC_ID_NONE) {
        audio = openAudioEncoder(spec, globalHeader);
        as = avformat_new_stream(out.get(), nullptr);
        avcodec_parameters_from_context(as->codecpar, audio.get());
        as->time_base = audio->time_base;
    }
    check(avio_open(&out->pb, path.c_str(), AVIO_FLAG_WRITE), "create clip");
    check(avformat_write_header(out.get(), nullptr), "clip header");

    av::PacketPtr packet = av::makePacket();
    auto send = [&](AVCodecContext& c, AVStream* s, AVFrame* frame) {
        check(avcodec_send_frame(&c, frame), "encode clip");
        while (avcodec_receive_packet(&c, packet.get()) >= 0) {
            packet->stream_index = s->index;
            av_packet_rescale_ts(packet.get(), c.time_base, s->time_base);
            check(av_interleaved_write_frame(out.get(), packet.get()), "write clip");
        }
    };
    const int64_t frames = std::llround(spec.seconds * spec.fps);
    const int64_t samples = std::llround(spec.seconds * spec.sampleRate);
    const int chunk = audio && audio->frame_size > 0 ? audio->frame_size : 1024;
    int64_t n = 0, s = 0;
    while ((video && n < frames) || (audio && s < samples)) {
        const bool videoNext =
            video && n < frames && (!audio || s >= samples || n * spec.sampleRate < s * spec.fps);
        if (videoNext) {
            send(*video, vs, picture(*video, spec, n).get());
            ++n;
        } else {
            const int count = static_cast<int>(std::min<int64_t>(chunk, samples - s));
            const bool fixed =
                audio->frame_size > 0 && !(audio->codec->capabilities & AV_CODEC_CAP_VARIABLE_FRAME_SIZE);
            av::FramePtr f = tone(*audio, s, fixed ? chunk : count);
            send(*audio, as, f.get());
            s += count;
        }
    }
    if (video)
        send(*video, vs, nullptr);
    if (audio)
        send(*audio, as, nullptr);
    check(av_write_trailer(out.get()), "clip trailer");
}

FileFacts readFacts(const std::string& path) {
    AVFormatContext* raw = nullptr;
    check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open output");
    av::InputPtr in(raw);
    check(avformat_find_stream_info(in.get(), nullptr), "read output");
    FileFacts facts;
    facts.durationMs = in->duration == AV_NOPTS_VALUE ? 0 : av_rescale(in->duration, 1000, AV_TIME_BASE);
    facts.fileSize = avio_size(in->pb);
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(in->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        facts.metadata[tag->key] = tag->value;

    std::vector<av::CodecPtr> decoders(in->nb_streams);
    std::vector<StreamFacts*> slots(in->nb_streams, nullptr);
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        const AVCodecParameters& p = *in->streams[i]->codecpar;
        StreamFacts* f = p.codec_type == AVMEDIA_TYPE_AUDIO   ? &facts.audio
                         : p.codec_type == AVMEDIA_TYPE_VIDEO ? &facts.video
                                                              : nullptr;
        if (!f)
            continue;
        slots[i] = f;
        f->present = true;
        f->tag = p.codec_tag;
        f->width = p.width;
        f->height = p.height;
        f->sampleRate = p.sample_rate;
        f->channels = p.ch_layout.nb_channels;
        const AVRational aspect = av_guess_sample_aspect_ratio(in.get(), in->streams[i], nullptr);
        f->aspectNum = aspect.num;
        f->aspectDen = aspect.den;
        const AVCodec* codec = avcodec_find_decoder(p.codec_id);
        decoders[i].reset(avcodec_alloc_context3(codec));
        avcodec_parameters_to_context(decoders[i].get(), &p);
        check(avcodec_open2(decoders[i].get(), codec, nullptr), "open decoder");
    }
    av::PacketPtr packet = av::makePacket();
    av::FramePtr frame = av::makeFrame();
    auto receive = [&](unsigned i) {
        while (avcodec_receive_frame(decoders[i].get(), frame.get()) >= 0) {
            StreamFacts& f = *slots[i];
            if (f.firstLuma < 0 && frame->width > 0) {
                double sum = 0;
                for (int y = 0; y < frame->height; ++y)
                    for (int x = 0; x < frame->width; ++x)
                        sum += frame->data[0][static_cast<ptrdiff_t>(y) * frame->linesize[0] + x];
                f.firstLuma = sum / (frame->width * frame->height);
            }
            f.decoded += frame->width > 0 ? 1 : frame->nb_samples;
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.get(), packet.get()) >= 0) {
        const unsigned i = static_cast<unsigned>(packet->stream_index);
        if (slots[i]) {
            StreamFacts& f = *slots[i];
            f.packets += 1;
            f.bytes += packet->size;
            const AVRational base = in->streams[i]->time_base;
            if (packet->pts != AV_NOPTS_VALUE) {
                const double ms = static_cast<double>(packet->pts) * 1000.0 * av_q2d(base);
                if (f.startMs < 0)
                    f.startMs = ms;
                f.endMs =
                    std::max(f.endMs, ms + static_cast<double>(packet->duration) * 1000.0 * av_q2d(base));
            }
            if (avcodec_send_packet(decoders[i].get(), packet.get()) >= 0)
                receive(i);
        }
        av_packet_unref(packet.get());
    }
    for (unsigned i = 0; i < in->nb_streams; ++i) {
        if (slots[i]) {
            avcodec_send_packet(decoders[i].get(), nullptr);
            receive(i);
        }
    }
    return facts;
}

std::vector<Picture> readPictures(const std::string& path) {
    AVFormatContext* raw = nullptr;
    check(avformat_open_input(&raw, path.c_str(), nullptr, nullptr), "open output");
    av::InputPtr in(raw);
    check(avformat_find_stream_info(in.get(), nullptr), "read output");
    const int stream = av_find_best_stream(in.get(), AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    check(stream, "video stream");
    const AVCodecParameters& p = *in->streams[stream]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(p.codec_id);
    av::CodecPtr decoder(avcodec_alloc_context3(codec));
    avcodec_parameters_to_context(decoder.get(), &p);
    check(avcodec_open2(decoder.get(), codec, nullptr), "open decoder");

    std::vector<Picture> pictures;
    av::ScalerPtr scaler;
    av::PacketPtr packet = av::makePacket();
    av::FramePtr frame = av::makeFrame();
    auto receive = [&] {
        while (avcodec_receive_frame(decoder.get(), frame.get()) >= 0) {
            Picture pic;
            pic.width = frame->width;
            pic.height = frame->height;
            pic.interlaced = frame->interlaced_frame;
            pic.topFieldFirst = frame->top_field_first;
            pic.y.resize(static_cast<size_t>(pic.width) * pic.height);
            pic.u.resize(static_cast<size_t>(pic.width / 2) * (pic.height / 2));
            pic.v.resize(pic.u.size());
            scaler.reset(sws_getCachedContext(
                scaler.release(), frame->width, frame->height, static_cast<AVPixelFormat>(frame->format),
                pic.width, pic.height, AV_PIX_FMT_YUV420P, SWS_POINT, nullptr, nullptr, nullptr));
            uint8_t* planes[4] = {pic.y.data(), pic.u.data(), pic.v.data(), nullptr};
            int strides[4] = {pic.width, pic.width / 2, pic.width / 2, 0};
            sws_scale(scaler.get(), frame->data, frame->linesize, 0, frame->height, planes, strides);
            pictures.push_back(std::move(pic));
            av_frame_unref(frame.get());
        }
    };
    while (av_read_frame(in.get(), packet.get()) >= 0) {
        if (packet->stream_index == stream && avcodec_send_packet(decoder.get(), packet.get()) >= 0)
            receive();
        av_packet_unref(packet.get());
    }
    avcodec_send_packet(decoder.get(), nullptr);
    receive();
    return pictures;
}

#ifndef _WIN32
namespace fs = std::filesystem;

// The number is picked by hand: a display that died without cleaning up leaves a socket that -displayfd
// would hand out again.
VirtualDisplay::VirtualDisplay(int width, int height) {
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -displayfd lets Xvfb take a free display number itself and write it once it is ready: choosing one
    // here races other processes starting displays at the same time.
    int ready[2];
    if (pipe(ready) != 0)
        return;
    pid_ = fork();
    if (pid_ == 0) {
        close(ready[0]);
        if (!freopen("/dev/null", "w", stderr))
            _exit(126);
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    std::string number;
    char c = 0;
    while (pid_ > 0 && read(ready[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(ready[0]);
    if (!number.empty()) {
        display_ = ":" + number;
        setenv("DISPLAY", display_.c_str(), 1);
    } else if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }
}

VirtualDisplay::~VirtualDisplay() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
}

SoundServer::SoundServer(const std::string& folder, const std::string& sink) {
    const fs::path home = fs::absolute(folder);
    fs::create_directories(home / "run");
    fs::permissions(home / "run", fs::perms::owner_all);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_RUNTIME_DIR", (home / "run").c_str(), 1);
    std::system("pactl exit >/dev/null 2>&1");
    const std::string command = "pulseaudio -n --daemonize=yes --exit-idle-time=-1 --log-target=stderr "
                                "-L 'module-native-protocol-unix auth-anonymous=1' "
                                "-L 'module-null-sink sink_name=" +
                                sink + " rate=44100 channels=2' 2>/dev/null";
    ok_ = std::system(command.c_str()) == 0;
    for (int i = 0; ok_ && i < 50 && std::system("pactl info >/dev/null 2>&1") != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
}

SoundServer::~SoundServer() {
    std::system("pactl exit >/dev/null 2>&1");
}
#endif

} // namespace encoder::testing
