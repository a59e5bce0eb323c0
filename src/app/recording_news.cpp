#include "app/recording_news.h"

namespace skyrazor {

RecordingNews::RecordingNews(ScriptRecorder& recorder, LivePlatform& terminal)
    : recorder_(recorder) {
  auto tell = [&terminal](const std::string& why) {
    terminal.showNews("Recording failed (" + why + "); the game plays on, unrecorded");
  };
  if (recorder.failed()) {
    tell(recorder.failure());
  }
  recorder.onFailure(tell);
}

RecordingNews::~RecordingNews() {
  recorder_.onFailure(nullptr);
}

}  // namespace skyrazor
