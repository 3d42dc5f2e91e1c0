#include "xPicSign.h"

#include "xAssert.h"

TPicTrace::TPicTrace(int length) { SetLength(length); }

void TPicTrace::SetLength(int n) {
  TS_ASSERT(n >= 0);
  if (n != Length()) Bytes_.resize(static_cast<std::size_t>(n), 0);
}

std::uint8_t TPicTrace::Bytes(int index) const {
  TS_ASSERT(index >= 0 && index < Length());
  return Bytes_[static_cast<std::size_t>(index)];
}

void TPicTrace::Bytes(int index, std::uint8_t value) {
  TS_ASSERT(index >= 0 && index < Length());
  Bytes_[static_cast<std::size_t>(index)] = value;
}

TPicSign::TPicSign(TPicVariants variants) {
  for (int i = 0; i < LTraceVariants; ++i)
    if (variants.Contains(i)) LTraces_[static_cast<std::size_t>(i)].emplace();
}

TPicTrace* TPicSign::LTrace(int variant) {
  if (variant < 0 || variant >= LTraceVariants) return nullptr;
  auto& trace = LTraces_[static_cast<std::size_t>(variant)];
  return trace ? &*trace : nullptr;
}

const TPicTrace* TPicSign::LTrace(int variant) const {
  return const_cast<TPicSign*>(this)->LTrace(variant);
}

int TPicSign::LLength(int variant) const {
  const TPicTrace* trace = LTrace(variant);
  return trace ? trace->Length() : 0;
}

void TPicSign::SetLLength(int variant, int n) {
  TPicTrace* trace = LTrace(variant);
  TS_ASSERT(trace != nullptr);
  trace->SetLength(n);
}
