#include "journal/device_names.h"

#include <filesystem>

namespace veks {
namespace {

// Decodes UTF-8 one code point at a time; a byte that starts no valid
// sequence gives -1 and a length of 1.
int NextCodePoint(std::string_view text, std::size_t at, std::size_t& length) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  length = 1;
  if (lead < 0x80) return lead;
  int need = 0;
  int cp = 0;
  int min = 0;
  if ((lead & 0xE0) == 0xC0) {
    need = 1, cp = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    need = 2, cp = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    need = 3, cp = lead & 0x07, min = 0x10000;
  } else {
    return -1;
  }
  if (at + static_cast<std::size_t>(need) >= text.size()) return -1;
  for (int i = 1; i <= need; ++i) {
    const unsigned char next = byte(at + static_cast<std::size_t>(i));
    if ((next & 0xC0) != 0x80) return -1;
    cp = cp << 6 | (next & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return -1;
  length = static_cast<std::size_t>(need) + 1;
  return cp;
}

bool IsControl(int cp) { return cp < 0x20 || (cp >= 0x7F && cp <= 0x9F); }

// Unicode's space, line and paragraph separators, TAB and line feed.
bool IsBlank(int cp) {
  return cp == ' ' || cp == '\t' || cp == '\n' || cp == 0xA0 || cp == 0x1680 ||
         (cp >= 0x2000 && cp <= 0x200A) || cp == 0x2028 || cp == 0x2029 || cp == 0x202F ||
         cp == 0x205F || cp == 0x3000;
}

}  // namespace

std::string DeviceNameForFile(const std::string& archive) {
  // Every output can carry the name: control characters become "_" and bytes
  // that are no UTF-8 become U+FFFD.
  const std::string stem = std::filesystem::path(archive).stem().string();
  std::string name;
  for (std::size_t at = 0, length = 0; at < stem.size(); at += length) {
    const int cp = NextCodePoint(stem, at, length);
    if (cp < 0) {
      name += "\xEF\xBF\xBD";
    } else if (IsControl(cp)) {
      name += '_';
    } else {
      name.append(stem, at, length);
    }
  }
  return name.empty() ? std::string("архив") : name;
}

bool IsValidDeviceName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t at = 0, length = 0; at < name.size(); at += length) {
    const int cp = NextCodePoint(name, at, length);
    if (cp < 0 || IsControl(cp)) return false;
  }
  return true;
}

bool IsValidNoteLabel(std::string_view label) {
  std::size_t characters = 0;
  for (std::size_t at = 0, length = 0; at < label.size(); at += length, ++characters) {
    const int cp = NextCodePoint(label, at, length);
    if (cp < 0 || IsControl(cp)) return false;
  }
  return characters >= 1 && characters <= 100;
}

bool IsValidNoteText(std::string_view text) {
  bool shows = false;
  for (std::size_t at = 0, length = 0; at < text.size(); at += length) {
    const int cp = NextCodePoint(text, at, length);
    if (cp < 0 || (IsControl(cp) && cp != '\t' && cp != '\n')) return false;
    shows = shows || !IsBlank(cp);
  }
  return shows;
}

}  // namespace veks
