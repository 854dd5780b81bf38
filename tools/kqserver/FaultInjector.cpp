#include "tools/kqserver/FaultInjector.h"

#include <charconv>
#include <string_view>

namespace kqserver {

namespace {

constexpr int kMaxDelayMs = 600000;

bool ToInt(std::string_view text, int64_t low, int64_t high, int64_t* value) {
  int64_t parsed = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), parsed);
  if (error != std::errc() || end != text.data() + text.size() || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace

const char* FaultInjector::KindName(Kind kind) {
  switch (kind) {
    case Kind::kStatus:
      return "status";
    case Kind::kEmpty:
      return "empty";
    case Kind::kNoUrl:
      return "nourl";
    case Kind::kDrop:
      return "drop";
    case Kind::kTruncate:
      return "truncate";
    case Kind::kDelay:
      return "delay";
    case Kind::kOverwrite:
      return "overwrite";
    case Kind::kDown:
      return "down";
  }
  return "";
}

bool FaultInjector::Parse(const std::string& rule, Fault* fault, std::string* error) {
  Fault parsed;
  parsed.rule = rule;
  bool haveKind = false;
  const auto setKind = [&](Kind kind) {
    if (haveKind) return false;
    parsed.kind = kind;
    haveKind = true;
    return true;
  };
  std::string_view rest(rule);
  while (!rest.empty()) {
    const size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    while (!item.empty() && item.front() == ' ') item.remove_prefix(1);
    while (!item.empty() && item.back() == ' ') item.remove_suffix(1);
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    const std::string_view key = item.substr(0, equals);
    const std::string_view value =
        equals == std::string_view::npos ? std::string_view() : item.substr(equals + 1);
    int64_t number = 0;
    bool ok = true;
    if (key == "path") {
      ok = !value.empty() && value.front() == '/';
      parsed.path = std::string(value);
    } else if (key == "block") {
      if (value != "*") {
        ok = ToInt(value, 0, INT64_MAX, &number);
        parsed.block = number;
      }
    } else if (key == "status") {
      ok = ToInt(value, 100, 599, &number) && setKind(Kind::kStatus);
      parsed.status = static_cast<int>(number);
    } else if (key == "delay") {
      ok = ToInt(value, 0, kMaxDelayMs, &number) && setKind(Kind::kDelay);
      parsed.delayMs = static_cast<int>(number);
    } else if (key == "down") {
      ok = ToInt(value, 1, kMaxDelayMs, &number) && setKind(Kind::kDown);
      parsed.downMs = static_cast<int>(number);
    } else if (key == "overwrite") {
      ok = ToInt(value, 0, 3, &number) && setKind(Kind::kOverwrite);
      parsed.overwrite = static_cast<int>(number);
    } else if (key == "empty" && value.empty()) {
      ok = setKind(Kind::kEmpty);
    } else if (key == "nourl" && value.empty()) {
      ok = setKind(Kind::kNoUrl);
    } else if (key == "drop" && value.empty()) {
      ok = setKind(Kind::kDrop);
    } else if (key == "truncate" && value.empty()) {
      ok = setKind(Kind::kTruncate);
    } else if (key == "once" && value.empty()) {
      parsed.remaining = 1;
    } else if (key == "always" && value.empty()) {
      parsed.remaining = -1;
    } else if (key == "times") {
      if (value == "always") {
        parsed.remaining = -1;
      } else if (value == "once") {
        parsed.remaining = 1;
      } else {
        ok = ToInt(value, 1, 1000000, &number);
        parsed.remaining = static_cast<int>(number);
      }
    } else {
      ok = false;
    }
    if (!ok) {
      *error = "bad fault setting \"" + std::string(item) + "\"";
      return false;
    }
  }
  if (!haveKind) {
    *error =
        "a fault needs one of status=N, empty, nourl, drop, truncate, delay=MS, overwrite=N or "
        "down=MS";
    return false;
  }
  *fault = std::move(parsed);
  return true;
}

int FaultInjector::Arm(Fault fault) {
  std::lock_guard lock(mutex_);
  fault.id = nextId_++;
  fault.hits = 0;
  faults_.push_back(std::move(fault));
  return faults_.back().id;
}

void FaultInjector::Clear() {
  std::lock_guard lock(mutex_);
  faults_.clear();
}

std::optional<FaultInjector::Fault> FaultInjector::Take(const std::string& path,
                                                        std::optional<int64_t> block) {
  std::lock_guard lock(mutex_);
  const auto now = std::chrono::steady_clock::now();
  const auto cutOff = [](Fault fault) {
    fault.kind = Kind::kDrop;
    fault.dropAtOnce = true;
    return fault;
  };
  if (now < downUntil_) {
    Fault down;
    down.rule = "link down";
    return cutOff(down);
  }
  for (auto& fault : faults_) {
    if (fault.remaining == 0 || path.compare(0, fault.path.size(), fault.path) != 0) continue;
    if (fault.block && (!block || *block != *fault.block)) continue;
    if (fault.remaining > 0) --fault.remaining;
    ++fault.hits;
    if (fault.kind == Kind::kDown) {
      downUntil_ = now + std::chrono::milliseconds(fault.downMs);
      return cutOff(fault);
    }
    return fault;
  }
  return std::nullopt;
}

std::vector<FaultInjector::Fault> FaultInjector::List() {
  std::lock_guard lock(mutex_);
  return faults_;
}

}  // namespace kqserver
