#include "standin/crash.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

#include "standin/engine.h"

namespace standin {

struct PureVirtualBase;
void CallPure(PureVirtualBase* object);

// Calls its pure virtual function while it is still being constructed,
// through a function the compiler does not look into. Outside the anonymous
// namespace, so the compiler cannot see every class deriving from it and
// turn the call into a direct one.
struct PureVirtualBase {
  PureVirtualBase() { CallPure(this); }
  virtual ~PureVirtualBase() = default;
  virtual void Pure() = 0;
};

__attribute__((noinline, noipa)) void CallPure(PureVirtualBase* object) {
  object->Pure();
}
struct PureVirtualDerived : PureVirtualBase {
  void Pure() override {}
};

namespace {

// Each crash happens in a function of its own, never inlined, so a stack
// of the crash names it.
__attribute__((noinline)) void WriteThroughNull() {
  // A volatile store through a pointer the compiler cannot see to be null.
  volatile uintptr_t address = 0;
  *reinterpret_cast<volatile int*>(address) = 1;
}

__attribute__((noinline)) void DivideByZero() {
  volatile int dividend = 1;
  volatile int divisor = 0;
  volatile int quotient = dividend / divisor;
  (void)quotient;
}

__attribute__((noinline)) void ExecuteIllegalInstruction() { __builtin_trap(); }

// Each call keeps a frame of its own (the buffer), so the recursion
// overflows the stack instead of becoming a loop.
__attribute__((noinline)) int RecurseWithoutEnd(int depth) {
  volatile char frame[256];
  frame[depth % sizeof(frame)] = static_cast<char>(depth);
  return RecurseWithoutEnd(depth + 1) + frame[0];
}

__attribute__((noinline)) void ThrowUncaught() {
  throw std::runtime_error("standin: thrown on purpose");
}

__attribute__((noinline)) void Abort() { std::abort(); }

__attribute__((noinline)) void CallPureVirtual() { PureVirtualDerived object; }

__attribute__((noinline)) void PassInvalidParameter() {
  // The C runtime rejects a null destination through its invalid-parameter
  // handler.
  strcpy_s(nullptr, 0, "x");
}

void CrashOnEngineThread() {
  std::thread([] { WriteThroughNull(); }).join();
}

}  // namespace

void CrashIfAsked() {
  std::string kind;
  if (!ReadEnvironment(L"ORVALIN_STANDIN_CRASH", &kind)) return;
  Diagnostic("crashing as asked: " + kind);
  if (kind == "access_violation") {
    WriteThroughNull();
  } else if (kind == "engine_thread") {
    CrashOnEngineThread();
  } else if (kind == "divide_by_zero") {
    DivideByZero();
  } else if (kind == "illegal_instruction") {
    ExecuteIllegalInstruction();
  } else if (kind == "stack_overflow") {
    RecurseWithoutEnd(0);
  } else if (kind == "uncaught_exception") {
    ThrowUncaught();
  } else if (kind == "abort") {
    Abort();
  } else if (kind == "pure_virtual") {
    CallPureVirtual();
  } else if (kind == "invalid_parameter") {
    PassInvalidParameter();
  } else {
    Diagnostic("unknown crash kind; not crashing: " + kind);
  }
}

}  // namespace standin
