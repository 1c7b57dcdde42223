// placeholder until the Win32 platform layer lands
