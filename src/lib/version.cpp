#include "fluxtrim/version.hpp"

namespace fluxtrim {

const char* version() {
  return FLUXTRIM_VERSION_STRING;
}

}  // namespace fluxtrim
