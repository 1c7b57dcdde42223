// placeholder until the POSIX platform layer lands
