// Exception types of the engine. Every operating-system or stream failure and the few misuses that
// the engine reports by raising carry a human-readable message; callers (the wizard's default error
// display, the command line) show that text as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace quirelle {

// Base of every exception the engine raises.
class EIEException : public std::runtime_error {
public:
    explicit EIEException(const std::string& message) : std::runtime_error(message) {}
    std::string Message() const { return what(); }
};

// A file could not be created, opened, read or written ("Cannot create file ...").
class EIEFileError : public EIEException {
public:
    using EIEException::EIEException;
};

// A stream delivered or accepted fewer bytes than required ("Stream read error", ...).
class EIEStreamError : public EIEException {
public:
    using EIEException::EIEException;
};

// Input/output failure of the temporary-file store ("Unable to create ...").
class EIEInOutError : public EIEException {
public:
    using EIEException::EIEException;
};

// Out of memory while building engine structures.
class EIEOutOfMemory : public EIEException {
public:
    EIEOutOfMemory() : EIEException("Out of memory") {}
};

// printf-style formatting into std::string; used to fill the engine's message templates.
std::string IEFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The system's text for an errno value ("No such file or directory").
std::string IESystemErrorText(int errorNumber);

}  // namespace quirelle
