# (the module library and its entry tests are added here)
