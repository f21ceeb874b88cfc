// The media-information object: a file's frame rate and a readable description of it.
#pragma once

#include "capture/encoder/encoder.h"

namespace encoder {

class MediaInfoObject : public IMediaInfo {
public:
    std::string FileName() const override { return path_; }
    void FileName(const std::string& path) override { path_ = path; }
    double FrameRate() const override;
    std::string MediaInfo() const override;

private:
    std::string path_;
};

} // namespace encoder
