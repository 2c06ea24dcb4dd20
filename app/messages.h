#pragma once

// Texts shown by more than one handler.
namespace busdesk::msg {

inline constexpr const char* kAppTitle = "BusDesk";
inline constexpr const char* kNoDevice = "Установите существующий сетевой адрес";
inline constexpr const char* kRange200 = "Введите число в диапазоне 0....200";
inline constexpr const char* kRange2M = "Введите число в диапазоне 0....2 000 000";
// The first letter is a Latin C; the text is kept exactly as it stands.
inline constexpr const char* kTooManyIdChars = "Cлишком много символов Идентификатора";
inline constexpr const char* kNotHex = "В строке имеются символы не принадлежащие HEX";

}  // namespace busdesk::msg
