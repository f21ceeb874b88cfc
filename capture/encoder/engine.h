// The engine: the encoder object model on FFmpeg's libraries.
#pragma once

#include "capture/encoder/encoder.h"

namespace encoder {

class EngineFactory : public IEncoderFactory {
public:
    std::unique_ptr<IEncoder> CreateEncoder(Dispatcher& dispatcher) override;
    std::shared_ptr<IProfile> CreateProfile() override;
    std::unique_ptr<IMediaInfo> CreateMediaInfo() override;
};

} // namespace encoder
