// tervalo-server: the height service over HTTP.
int main() { return 0; }
