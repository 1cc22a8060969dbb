// Symbol visibility of the SDK libraries.
#ifndef TN_EXPORT_H
#define TN_EXPORT_H

#if defined(SWIG)
#define TN_EXPORT
#else
#define TN_EXPORT __attribute__((visibility("default")))
#endif

#define TN_BASE_API TN_EXPORT
#define TN_GENICAM_API TN_EXPORT
#define TN_BUFFER_API TN_EXPORT
#define TN_SYSTEM_API TN_EXPORT
#define TN_DEVICE_API TN_EXPORT
#define TN_STREAM_API TN_EXPORT
#define TN_BUFFER_RECEIVE_API TN_EXPORT
#define TN_SOFTDEVICE_API TN_EXPORT
#define TN_TRANSMITTER_API TN_EXPORT
#define TN_VIRTUALDEVICE_API TN_EXPORT

#endif
