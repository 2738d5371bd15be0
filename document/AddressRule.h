// How the address field's text becomes the address the browser view loads.
//
// The field holds a file path or a web address, possibly in double quotes (the browse dialog
// quotes paths that contain a space). Its file name is the whole text when that names an
// existing file; otherwise the first item of the text read as a command line.
#pragma once

#include <QString>
#include <functional>
#include <stdexcept>

namespace document {

// The longest address item the field hands on.
constexpr int kMaxAddressItem = 256;

// The item would have to be cut to kMaxAddressItem characters: loading the cut address would
// show some other page, so the open is refused instead.
class AddressTooLong : public std::runtime_error {
  public:
    AddressTooLong();
};

// The first item of text read as a command line: blanks (codes 1 to 32) and pairs of double
// quotes before it are skipped; the item runs to the next blank outside double quotes; double
// quotes group and are dropped. Empty when the text holds no item. The item is returned whole,
// however long.
QString firstCommandLineItem(const QString& text);

using FileExists = std::function<bool(const QString& path)>;
// True for an existing file that is not a folder.
bool isExistingFile(const QString& path);

// The field's file name (see above); throws AddressTooLong for an item longer than
// kMaxAddressItem that is not an existing file.
QString addressFileName(const QString& text, const FileExists& exists = isExistingFile);

// The address "Open website..." loads: the file name, or the raw text when that is empty.
QString addressToOpen(const QString& text, const FileExists& exists = isExistingFile);

} // namespace document
