#pragma once
// The modal boxes through which the core's logic speaks to the operator. The window shows them;
// tests answer them. Texts are UTF-8, and a '\r' starts a new line.

#include <string>

enum class ConfirmAnswer { Yes, No, Closed };  // Closed: the box's title-bar close button

class IOperatorBoxes {
  public:
    virtual ~IOperatorBoxes() = default;
    // An error box (title "Błąd"); returns when the operator has closed it.
    virtual void ShowError(const std::string& text) = 0;
    // A confirmation box (title "Potwierdzenie") with "&Tak" and "&Nie".
    virtual ConfirmAnswer AskConfirmation(const std::string& text) = 0;
};
