// The inspector pane interface of the split view; its meta-object is compiled here.
#include "mainwindow/inspector_pane.h"
