// The shortest digits of a double from JavaScript, for float_chars.h in the WebAssembly build.
#include <emscripten/emscripten.h>

// Number.prototype.toExponential() without a digit count gives as many digits as it takes to
// tell the value from every other double, the nearest such ones: "4.8338e-1", "5e-324".
EM_JS(int, fluxtrim_js_exponential, (double value, char* out), {
  const text = value.toExponential();
  for (let i = 0; i < text.length; ++i) HEAPU8[out + i] = text.charCodeAt(i);
  return text.length;
});
