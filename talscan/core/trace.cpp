#include "talscan/core/trace.h"

#include <cstdio>

namespace {

constexpr char kLineEnd[] = "\r\n";

// A device name may hold what a file name cannot.
std::string FileNameOf(const std::string& device) {
  std::string name = device.empty() ? "device" : device;
  for (char& c : name) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || std::string("\\/:*?\"<>|").find(c) != std::string::npos) {
      c = '_';
    }
  }
  return name;
}

}  // namespace

std::string TraceText(const std::string& text) {
  std::string shown;
  char hex[8];
  for (char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) {
      snprintf(hex, sizeof hex, "\\x%02X", u);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

std::string DefaultTraceFolder(TraceFiles& files) {
  return files.ProgramData() + "\\Korva\\OPOS Scanner\\Traces";
}

Trace& Trace::Off() {
  static Trace off;
  return off;
}

bool Trace::Begin(int level, const std::string& folder,
                  const std::string& device,
                  const std::vector<std::string>& header) {
  if (level <= trace_level::kOff || files_ == nullptr) return false;
  std::lock_guard<std::mutex> lock(mutex_);
  folder_ = folder.empty() ? DefaultTraceFolder(*files_) : folder;
  name_ = FileNameOf(device);
  const PlatformError made = files_->CreateFolder(folder_);
  if (made.Failed()) {
    stopped_ = "cannot make " + folder_ + ": error " +
               std::to_string(made.code);
    return false;
  }
  size_ = files_->Size(Older(0));
  std::string text = "==== " + Stamp() + " Open \"" + device + "\" ====" +
                     kLineEnd + files_->ProcessDescription() + kLineEnd +
                     files_->LibraryDescription() + kLineEnd;
  for (const std::string& line : header) text += line + kLineEnd;
  level_ = level;
  Append(std::move(text));
  return level_ > trace_level::kOff;
}

void Trace::Write(int level, const std::string& text) {
  if (!Wants(level)) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (level_ == trace_level::kOff) return;  // went off meanwhile
  const uint64_t now = clock_->NowMs();
  if (text == lastText_ && now - lastAtMs_ <= kTraceBurstGapMs) {
    ++repeats_;
    lastAtMs_ = now;
    return;
  }
  std::string bytes = HeldBackCount();
  bytes += Stamp() + " [" + std::to_string(files_->CurrentThreadId()) + "] " +
           text + kLineEnd;
  lastText_ = text;
  lastAtMs_ = now;
  Append(std::move(bytes));
}

void Trace::Bytes(const char* direction, const uint8_t* bytes, size_t count) {
  if (!Wants(trace_level::kWire)) return;
  std::string text = std::string(direction) + " " + std::to_string(count) +
                     (count == 1 ? " byte:" : " bytes:");
  char hex[4];
  for (size_t i = 0; i < count; ++i) {
    snprintf(hex, sizeof hex, " %02X", bytes[i]);
    text += hex;
  }
  Write(trace_level::kWire, text);
}

void Trace::End() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (level_ == trace_level::kOff) return;
  std::string count = HeldBackCount();
  if (!count.empty()) Append(std::move(count));
  level_ = trace_level::kOff;
}

std::string Trace::Path() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return Older(0);
}

std::string Trace::Stopped() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stopped_;
}

std::string Trace::Stamp() {
  const LocalTime t = clock_->Local();
  char text[32];
  snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d.%03d", t.Year,
           t.Month, t.Day, t.Hour, t.Minute, t.Second, t.Millisecond);
  return text;
}

// The line that ends a burst: written before whatever comes next.
std::string Trace::HeldBackCount() {
  if (repeats_ == 0) return "";
  const std::string line = Stamp() + " [" +
                           std::to_string(files_->CurrentThreadId()) +
                           "] repeated " + std::to_string(repeats_) +
                           (repeats_ == 1 ? " time" : " times") + kLineEnd;
  repeats_ = 0;
  return line;
}

// Under mutex_.
void Trace::Append(std::string bytes) {
  if (size_ + bytes.size() > kTraceFileLimit) Rotate(bytes.size());
  const PlatformError error = files_->Append(Older(0), bytes, size_);
  if (error.Failed()) {
    stopped_ = "cannot write " + Older(0) + ": error " +
               std::to_string(error.code);
    level_ = trace_level::kOff;
  }
}

// Another process tracing the same device may have moved the file aside
// already: the size is looked at again under the lock they share.
void Trace::Rotate(size_t adding) {
  const std::string current = Older(0);
  files_->LockRotation(current);
  if (files_->Size(current) + adding > kTraceFileLimit) {
    for (int generation = kOlderTraceFiles; generation > 0; --generation) {
      files_->Move(Older(generation - 1), Older(generation));
    }
  }
  size_ = files_->Size(current);
  files_->UnlockRotation(current);
}

std::string Trace::Older(int generation) const {
  const std::string number =
      generation == 0 ? "" : "." + std::to_string(generation);
  return folder_ + "\\" + name_ + number + ".log";
}
