#include "ProgramWindows.h"

TForm1* Form1 = nullptr;
TFormUstaw* FormUstaw = nullptr;
TAboutBox* AboutBox = nullptr;
