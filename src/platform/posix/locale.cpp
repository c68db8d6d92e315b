#include "platform/locale.h"

namespace platform {

const LocaleFormats& UserLocaleFormats() {
  static const LocaleFormats formats;  // fixed English defaults
  return formats;
}

}  // namespace platform
