!INCLUDE $(_MAKEENVROOT)\makefile.def
