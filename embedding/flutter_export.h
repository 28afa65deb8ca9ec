// Export annotation shared by the embedding's C headers.
#ifndef EMBEDDING_FLUTTER_EXPORT_H_
#define EMBEDDING_FLUTTER_EXPORT_H_

// A library that implements the interface defines FLUTTER_DESKTOP_LIBRARY.
// Callers need no annotation: MinGW import libraries carry the thunks.
#if defined(FLUTTER_DESKTOP_LIBRARY) && defined(_WIN32)
#define FLUTTER_EXPORT __declspec(dllexport)
#else
#define FLUTTER_EXPORT
#endif

#endif  // EMBEDDING_FLUTTER_EXPORT_H_
