// Code page 866 through iconv.
#include "platform/textconv.h"

#include <iconv.h>

#include <cerrno>
#include <stdexcept>

namespace qd::platform {

namespace {

// One converter per direction and thread, opened on first use.
class TConverter {
 public:
  TConverter(const char* ATo, const char* AFrom) : FHandle(iconv_open(ATo, AFrom)) {
    if (FHandle == reinterpret_cast<iconv_t>(-1))
      throw std::runtime_error(std::string("iconv_open ") + AFrom + " -> " + ATo + " failed");
  }
  ~TConverter() { iconv_close(FHandle); }
  TConverter(const TConverter&) = delete;
  TConverter& operator=(const TConverter&) = delete;
  iconv_t Handle() {
    iconv(FHandle, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
    return FHandle;
  }

 private:
  iconv_t FHandle;
};

// Length of the UTF-8 sequence that starts with ALead (1 for a byte that cannot start one).
size_t SequenceLength(unsigned char ALead) {
  if (ALead >= 0xF0 && ALead <= 0xF4) return 4;
  if (ALead >= 0xE0) return ALead <= 0xEF ? 3 : 1;
  if (ALead >= 0xC2) return 2;
  return 1;
}

}  // namespace

std::string Utf8ToCp866(const std::string& AText) {
  thread_local TConverter conv("CP866", "UTF-8");
  iconv_t h = conv.Handle();
  std::string out(AText.size(), '\0');  // never more bytes than the UTF-8 input
  char* in = const_cast<char*>(AText.data());
  size_t inLeft = AText.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(h, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    if (errno != EILSEQ && errno != EINVAL) break;  // E2BIG cannot happen (see above)
    // Unmappable or malformed: one "?" for the character, go on behind it.
    size_t skip = SequenceLength(static_cast<unsigned char>(*in));
    if (skip > inLeft) skip = inLeft;
    for (size_t i = 1; i < skip; ++i)
      if ((static_cast<unsigned char>(in[i]) & 0xC0) != 0x80) {
        skip = i;
        break;
      }
    in += skip;
    inLeft -= skip;
    *dst++ = '?';
    --outLeft;
    iconv(h, nullptr, nullptr, nullptr, nullptr);
  }
  out.resize(out.size() - outLeft);
  return out;
}

std::string Cp866ToUtf8(const std::string& ABytes) {
  thread_local TConverter conv("UTF-8", "CP866");
  iconv_t h = conv.Handle();
  std::string out(ABytes.size() * 3, '\0');
  char* in = const_cast<char*>(ABytes.data());
  size_t inLeft = ABytes.size();
  char* dst = out.data();
  size_t outLeft = out.size();
  while (inLeft > 0) {
    if (iconv(h, &in, &inLeft, &dst, &outLeft) != static_cast<size_t>(-1)) break;
    // Not expected for this code page; keep going with a "?" for the byte.
    if (outLeft == 0) break;
    ++in;
    --inLeft;
    *dst++ = '?';
    --outLeft;
  }
  out.resize(out.size() - outLeft);
  return out;
}

}  // namespace qd::platform
