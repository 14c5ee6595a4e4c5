#include "tools/kor/engine_error_text.h"

#include <cerrno>
#include <charconv>
#include <cstring>

namespace kor::tool {

namespace {

std::string Compose(std::string_view className, std::string_view place, int code) {
  std::string text(className);
  if (!place.empty()) text += std::string(" at ") + std::string(place);
  if (code != 0) text += std::string(": ") + strerror(code);
  // The engine's file lock: another engine (a korserver) holds the file.
  if (code == EWOULDBLOCK) text += " (in use by another engine? try --connect HOST:PORT)";
  return text;
}

}  // namespace

std::string DescribeForUser(const EZException& error) {
  return Compose(error.ClassName(), error.InputPosition(), static_cast<int>(error.LastError()));
}

std::string DescribeForUser(std::string_view described) {
  constexpr std::string_view kCode = "  LastError: ";
  constexpr std::string_view kAt = " at ";
  constexpr std::string_view kRaised = " (raised in ";
  const size_t codeAt = described.find(kCode);
  const size_t raisedAt = described.rfind(kRaised);
  if (codeAt == std::string_view::npos || raisedAt == std::string_view::npos || raisedAt < codeAt) {
    return std::string(described);
  }
  std::string_view rest = described.substr(codeAt + kCode.size(), raisedAt - codeAt - kCode.size());
  int code = 0;
  auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), code);
  if (error != std::errc()) return std::string(described);
  rest.remove_prefix(static_cast<size_t>(end - rest.data()));
  std::string_view place;
  if (rest.substr(0, kAt.size()) == kAt) place = rest.substr(kAt.size());
  return Compose(described.substr(0, codeAt), place, code);
}

}  // namespace kor::tool
