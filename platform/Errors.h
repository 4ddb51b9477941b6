#pragma once
// Velmora's error classes. The error report prints an error's class name and its German
// message, so every class knows its own name; all of them derive from Exception.

#include <QString>
#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(QString message) : m_message(std::move(message)) {}
    const QString& Message() const { return m_message; }
    virtual const char* ClassName() const { return "Exception"; }
    const char* what() const noexcept override;

private:
    QString m_message;
    mutable std::string m_what;
};

#define VELMORA_ERROR_CLASS(Name, Base)                                                            \
    class Name : public Base {                                                                     \
    public:                                                                                        \
        using Base::Base;                                                                          \
        const char* ClassName() const override { return #Name; }                                   \
    };

VELMORA_ERROR_CLASS(EAbort, Exception)
VELMORA_ERROR_CLASS(EStreamError, Exception)
VELMORA_ERROR_CLASS(EFOpenError, EStreamError)
VELMORA_ERROR_CLASS(EFCreateError, EStreamError)
VELMORA_ERROR_CLASS(EPrinter, Exception)
VELMORA_ERROR_CLASS(EInvalidGraphic, Exception)
VELMORA_ERROR_CLASS(EInvalidGraphicOperation, Exception)
VELMORA_ERROR_CLASS(EJPEG, Exception)
VELMORA_ERROR_CLASS(EClipboardException, Exception)
VELMORA_ERROR_CLASS(EIniFileException, Exception)
VELMORA_ERROR_CLASS(EInOutError, Exception)
VELMORA_ERROR_CLASS(EMathError, Exception)
VELMORA_ERROR_CLASS(EZeroDivide, EMathError)
VELMORA_ERROR_CLASS(EInvalidOp, EMathError)
VELMORA_ERROR_CLASS(EOutOfMemory, Exception)

#undef VELMORA_ERROR_CLASS

// Floating-point division that fails the way the copier's figures expect: x / 0 raises
// EZeroDivide, 0 / 0 raises EInvalidOp. Used wherever a divisor is not guarded by design
// (scanner resolution, printable area).
double CheckedDiv(double numerator, double denominator);

// Round half to even into a signed 32-bit integer. Values beyond that range saturate at its
// limits instead of wrapping; NaN raises EInvalidOp.
int RoundHalfEven(double value);
