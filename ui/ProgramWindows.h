#pragma once
// The program's three windows, each created once by the program entry and reachable program-wide
// through these references (null before they exist).

class TForm1;
class TFormUstaw;
class TAboutBox;

extern TForm1* Form1;
extern TFormUstaw* FormUstaw;
extern TAboutBox* AboutBox;
