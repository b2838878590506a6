#pragma once

#include <jack/jack.h>
#include <jack/metadata.h>

#include <QString>

// Every JACK function the program calls.
// clang-format off
#define TESSALY_JACK_FUNCTIONS(X)                                                              \
    X(client_open) X(client_close) X(activate) X(deactivate) X(get_sample_rate)               \
    X(set_process_callback) X(set_xrun_callback) X(on_info_shutdown)                           \
    X(set_sample_rate_callback) X(set_client_registration_callback)                            \
    X(set_port_registration_callback) X(set_error_function) X(set_info_function)               \
    X(port_register) X(port_unregister) X(port_name) X(port_by_name) X(port_flags)             \
    X(port_name_size) X(port_get_aliases) X(port_uuid) X(port_get_buffer) X(connect)           \
    X(get_ports) X(free) X(get_property) X(last_frame_time) X(get_time) X(get_buffer_size)
// clang-format on

// A JACK client library, loaded at run time rather than linked: the
// system's libjack.so.0 (jackd2's, as a rule) or PipeWire's own, so that the
// program reaches whichever server runs, with no wrapper and no change to
// the system. Every JACK call goes through the library in use.
//
// A library once loaded stays loaded for the life of the process: one that
// still holds clients of a dead server must never go. Main thread only,
// except the functions themselves.
struct JackLibrary {
#define TESSALY_JACK_POINTER(name) decltype(&::jack_##name) name = nullptr;
    TESSALY_JACK_FUNCTIONS(TESSALY_JACK_POINTER)
#undef TESSALY_JACK_POINTER

    QString file;  // the library file, its links followed
    // "jackd" or "PipeWire": the server this library talks to.
    QString server() const;

    // The system's libjack.so.0; nothing when it is missing.
    static const JackLibrary* system();
    // PipeWire's libjack; nothing when no PipeWire server has its socket up,
    // or PipeWire's JACK layer is not installed.
    static const JackLibrary* pipewire();
};
