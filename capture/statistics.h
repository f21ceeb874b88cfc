// The end-of-run report: the audio stream, the video stream and the overall figures of the encoder's
// statistics, printed into the information box when a run has stopped.
#pragma once

namespace capture {

// Reads the statistics of g_objEncoder. A statistic that cannot be read ends the report with the
// "ERROR:  File Access" box; the lines already printed stay.
void ShowStatistics();

} // namespace capture
