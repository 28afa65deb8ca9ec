// The main thread's single-threaded COM apartment, held for the message loop.
#ifndef RUNNER_COM_APARTMENT_H_
#define RUNNER_COM_APARTMENT_H_

#include <objbase.h>
#include <windows.h>

class ComApartment {
 public:
  // Only a successful initialisation (S_OK or S_FALSE) is balanced; after a
  // failure such as RPC_E_CHANGED_MODE the thread's COM is not ours to end.
  ComApartment()
      : active_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
  ~ComApartment() {
    if (active_) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

  // The process is about to end with an error; the apartment goes with it.
  void Abandon() { active_ = false; }

 private:
  bool active_;
};

#endif  // RUNNER_COM_APARTMENT_H_
