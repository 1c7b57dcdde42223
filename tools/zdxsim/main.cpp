// zdxsim - terminal simulator (placeholder).
int main() { return 0; }
