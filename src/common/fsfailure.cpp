// A failure of the file system in the words of the messages to the user.
#include "common/fsfailure.h"

namespace qd {

std::string FileFailureText(const platform::EFsError& AError) {
  using platform::TFsAction;
  using platform::TFsReason;
  std::string what;
  switch (AError.Action) {
    case TFsAction::CreateFolder: what = "не удалось создать папку лога «" + AError.Path + "»"; break;
    case TFsAction::GrantAccess: what = "не удалось открыть папку лога «" + AError.Path + "» всем пользователям"; break;
    case TFsAction::Read: what = "не удалось прочитать файл «" + AError.Path + "»"; break;
    case TFsAction::Open: what = "не удалось открыть файл «" + AError.Path + "»"; break;
    case TFsAction::Write: what = "не удалось дописать файл «" + AError.Path + "»"; break;
    case TFsAction::NewFile: what = "не удалось создать файл «" + AError.Path + "»"; break;
    case TFsAction::Other: what = "ошибка работы с файлами"; break;
  }
  std::string why;
  switch (AError.Reason) {
    case TFsReason::NotFound: why = "путь не найден"; break;
    case TFsReason::NotAFolder: why = "на этом месте не папка"; break;
    case TFsReason::NotARegularFile: why = "это не обычный файл"; break;
    case TFsReason::Link: why = "это ссылка, по ней лог не пишется"; break;
    case TFsReason::AccessDenied: why = "нет прав доступа"; break;
    case TFsReason::NoSpace: why = "нет места на диске"; break;
    case TFsReason::InUse: why = "файл занят другой программой"; break;
    case TFsReason::NameTooLong: why = "слишком длинное имя"; break;
    case TFsReason::Other: why = "ошибка системы"; break;
  }
  if (AError.Code != 0) why += " (код " + std::to_string(AError.Code) + ")";
  return what + ": " + why;
}

}  // namespace qd
