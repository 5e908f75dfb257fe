// The clients sidebar interface of the split view; its meta-object is compiled here.
#include "mainwindow/clients_view_controller.h"
