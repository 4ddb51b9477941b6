#pragma once
// What the SANE bridge tells about devices and their options, in Velmora's own types (no SANE
// header here): the dialog and the capability code work on these.

#include <string>
#include <vector>

namespace sanebridge {

// SANE_Status, one to one.
enum class Status {
    Good,
    Unsupported,
    Cancelled,
    DeviceBusy,
    Inval,
    Eof,
    Jammed,
    NoDocs,
    CoverOpen,
    IoError,
    NoMem,
    AccessDenied,
    // Not SANE's: the bridge could not make sense of what the device sent.
    BadData,
};

// The German message for a status the user must act on (empty for Good and Cancelled).
std::string StatusMessage(Status status);
// SANE's own English text, for logs and test output.
const char* StatusName(Status status);

struct Device {
    std::string name, vendor, model, type;
};

enum class OptionType { Bool, Int, Fixed, String, Button, Group };
enum class OptionUnit { None, Pixel, Bit, Mm, Dpi, Percent, Microsecond };
enum class Constraint { None, Range, WordList, StringList };

struct OptionDesc {
    int index = 0;
    std::string name, title, description;
    std::string group; // title of the SANE group the option belongs to
    OptionType type = OptionType::Int;
    OptionUnit unit = OptionUnit::None;
    int count = 1; // number of values (SANE arrays have more than one)
    Constraint constraint = Constraint::None;
    double min = 0, max = 0, quant = 0; // Range (Int and Fixed alike, as numbers)
    std::vector<double> words;          // WordList
    std::vector<std::string> strings;   // StringList
    bool active = true, settable = true, advanced = false, automatic = false;
    // Set by a button or switch on the device itself (SANE_CAP_HARD_SELECT).
    bool button = false;
    // Current value: numbers for Bool, Int, Fixed (Bool as 0/1), text for String.
    std::vector<double> numbers;
    std::string text;
};

// The outcome of setting an option.
struct SetResult {
    Status status = Status::Good;
    bool inexact = false;       // the device took a nearby value (read it back)
    bool reloadOptions = false; // other options changed
};

} // namespace sanebridge
