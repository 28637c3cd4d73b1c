// GetPluginInfo and IsSupported: identical in both plug-ins but for the
// strings and the content test each plug-in supplies.
#include "plugin_frame.h"

#include <array>
#include <cstring>

PLUGIN_EXPORT std::int32_t PLUGIN_CALL GetPluginInfo(std::int32_t index, char* buffer,
                                                     std::int32_t size) {
  if (buffer == nullptr) return 0;
  // Compared unsigned, so a negative index is out of range too.
  if (static_cast<std::uint32_t>(index) >= kInformationStringCount) return 0;
  const char* text = kPluginInformation[index];
  const std::size_t length = std::strlen(text);
  if (size <= 0 || length + 1 > static_cast<std::size_t>(size)) return 0;  // buffer untouched
  std::memcpy(buffer, text, length + 1);
  return static_cast<std::int32_t>(length);
}

PLUGIN_EXPORT std::int32_t PLUGIN_CALL IsSupported(const char* name, HandleOrHead handle_or_head) {
  // The content test may rewrite what it is given, so it always works on a
  // private copy: the host's own bytes are never written.
  std::array<unsigned char, kHeadSize> head{};
  if ((handle_or_head & ~static_cast<HandleOrHead>(0xFFFF)) == 0) {
    // A file handle: read the head from the start. A short file leaves the
    // rest of the head zero. The handle stays open, positioned after the head.
    const auto file = static_cast<HFILE>(handle_or_head);
    _llseek(file, 0, FILE_BEGIN);
    if (_lread(file, head.data(), static_cast<UINT>(head.size())) == static_cast<UINT>(HFILE_ERROR))
      head.fill(0);  // a failed read may have left part of a head behind
  } else {
    std::memcpy(head.data(), reinterpret_cast<const void*>(handle_or_head), head.size());
  }
  return PluginContentTest(name, head.data(), static_cast<std::int32_t>(head.size()));
}
