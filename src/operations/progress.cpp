#include "operations/progress.h"

namespace kvr {

std::string SizeText(std::int64_t numerator, std::int64_t denominator) {
  if (denominator <= 0) return "K";
  const bool negative = numerator < 0;
  const std::int64_t magnitude = negative ? -numerator : numerator;
  const std::int64_t thousandths = (magnitude * 2000 + denominator) / (2 * denominator);
  std::string text = negative ? "-" : "";
  if (thousandths >= 1000) text += std::to_string(thousandths / 1000);
  const std::string decimals = std::to_string(1000 + thousandths % 1000);
  return text + "." + decimals.substr(1) + "K";
}

}  // namespace kvr
