#pragma once

// Makes the program's pictures (":/pictures/…") available; any number of calls.
void loadPictures();
