// A failure of the file system in the words of the messages to the user: what could not be
// done to which path, and why, in Russian, whatever language the system speaks; the system's
// code in brackets when there is one. For example
// "не удалось открыть файл «/var/log/x.log»: путь не найден (код 2)".
#pragma once
#include <string>

#include "platform/fs.h"

namespace qd {

std::string FileFailureText(const platform::EFsError& AError);

}  // namespace qd
