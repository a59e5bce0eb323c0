#include "platform/scripted/script_recorder.h"

#include <cerrno>
#include <cstring>

namespace skyrazor {

namespace {

const char* keyDirective(KeyboardSeat seat) {
  return seat == KeyboardSeat::Second ? "key2 " : "key ";
}

const char* typeDirective(KeyboardSeat seat) {
  return seat == KeyboardSeat::Second ? "type2 " : "type ";
}

}  // namespace

void ScriptRecorder::start(std::int64_t clockMs, int keyboards) {
  scriptMs_ = clockMs;
  endMs_ = clockMs;
  out_ << "clock " << clockMs / 1000 << '\n';
  if (keyboards == 2) {
    out_ << "keyboards 2\n";
  }
  flush();
}

void ScriptRecorder::key(unsigned char byte, std::int64_t stampMs, KeyboardSeat seat) {
  waitUntil(stampMs);
  out_ << keyDirective(seat)
       << escapeScriptText(std::string_view(reinterpret_cast<const char*>(&byte), 1)) << '\n';
  flush();
}

void ScriptRecorder::line(std::string_view text, std::int64_t stampMs, KeyboardSeat seat) {
  waitUntil(stampMs);
  if (!text.empty() && text.back() == '\n') {
    text.remove_suffix(1);
  }
  // An empty line is a lone Enter: `type` needs text after its space.
  if (text.empty()) {
    out_ << keyDirective(seat) << "\\n\n";
    flush();
  } else {
    out_ << typeDirective(seat) << escapeScriptText(text) << '\n';
    flush();
  }
}

void ScriptRecorder::secondKeyboardAttended(bool attended, std::int64_t stampMs) {
  if (attended == secondAttended_) {
    return;
  }
  secondAttended_ = attended;
  waitUntil(stampMs);
  out_ << (attended ? "keyboard2 here\n" : "keyboard2 away\n");
  flush();
}

void ScriptRecorder::finish() {
  if (finished_) {
    return;
  }
  finished_ = true;
  waitUntil(endMs_);
  flush();
}

void ScriptRecorder::flush() {
  if (failed()) {
    return;
  }
  if (out_) {
    errno = 0;
    out_.flush();
  }
  if (out_) {
    return;
  }
  failure_ = errno != 0 ? std::strerror(errno) : "a write failed";
  if (tell_) {
    tell_(failure_);
  }
}

void ScriptRecorder::waitUntil(std::int64_t stampMs) {
  if (stampMs > scriptMs_) {
    out_ << "wait " << stampMs - scriptMs_ << '\n';
    scriptMs_ = stampMs;
  }
}

std::string escapeScriptText(std::string_view bytes) {
  static constexpr char kHexDigits[] = "0123456789ABCDEF";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    auto byte = static_cast<unsigned char>(bytes[i]);
    bool atEnd = i == 0 || i + 1 == bytes.size();
    if (byte == '\n') {
      text += "\\n";
    } else if (byte == '\t') {
      text += "\\t";
    } else if (byte == '\\') {
      text += "\\\\";
    } else if (byte == ' ' && atEnd) {
      text += "\\s";
    } else if (byte < 0x20 || byte > 0x7E) {
      text += "\\x";
      text += kHexDigits[byte >> 4];
      text += kHexDigits[byte & 0x0F];
    } else {
      text += static_cast<char>(byte);
    }
  }
  return text;
}

}  // namespace skyrazor
