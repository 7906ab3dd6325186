#include "platform/textfold.h"

#include <locale.h>
#include <wctype.h>

namespace plat {

uint32_t upperCase(uint32_t cp) {
  if (cp < 0x80) return cp >= 'a' && cp <= 'z' ? cp - 32 : cp;
  static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
  if (utf8) return static_cast<uint32_t>(towupper_l(static_cast<wint_t>(cp), utf8));
  if (cp >= 0xE0 && cp <= 0xFE && cp != 0xF7) return cp - 32;
  return cp;
}

}  // namespace plat
