// The parts of a frame's time on their own, outside a played run: the wake-ups
// of the program's timer source and of Qt's precise timer, the loads of a
// frame file by the program and by Qt's own ways, a frame's paint and flush,
// and the picture's accessible name. Printed by tarvek-phases after the played
// runs, in the frames' folder.
#pragma once

class Form1;
class TimedRuntime;

void printAlone(Form1 &form, TimedRuntime &runtime);
