#include "capture/encode_options.h"

namespace capture {

EncodeOptions g_options;

} // namespace capture
