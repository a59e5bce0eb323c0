#pragma once

#include "app/live_platform.h"
#include "platform/scripted/script_recorder.h"

namespace skyrazor {

// A recording that cannot be written is news for the player at once; the
// game plays on. Until the returned guard goes, the recorder tells the
// terminal of each failure.
class RecordingNews {
 public:
  RecordingNews(ScriptRecorder& recorder, LivePlatform& terminal);
  ~RecordingNews();
  RecordingNews(const RecordingNews&) = delete;
  RecordingNews& operator=(const RecordingNews&) = delete;

 private:
  ScriptRecorder& recorder_;
};

}  // namespace skyrazor
