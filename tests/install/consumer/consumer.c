/* consumer.c - a host program built against an installed Orv5w32, the way
 * an integrator's program would be: it includes the public header, links
 * the library and calls its exports.  Prints what it saw; exit 0 when
 * every answer is the documented one. */
#include <stdio.h>
#include <string.h>

#include <orv5w32.h>

int main(void)
{
    char version[16] = ""; /* "1.01S" and its NUL, with margin */
    char name_buf[ORV5_NAME_BUF_SIZE] = "";
    char reason[256];
    int failures = 0;

    GetOrv5DllVersion(version);
    printf("version %s\n", version);
    if (strcmp(version, "1.01S") != 0)
        ++failures;

    /* A session that needs no port: an empty command text is refused. */
    int rc = ExecOrv5(NULL, "", name_buf);
    printf("empty text: %d %s\n", rc, orv5_result_message(rc));
    if (rc != ORV5_E_COMMAND)
        ++failures;

    /* No session runs: AbortOrv5 says so. */
    rc = AbortOrv5();
    printf("abort: %d\n", rc);
    if (rc != ORV5_OK)
        ++failures;

    rc = GetOrv5LastReason(reason, (int)sizeof reason);
    printf("reason length: %d\n", rc);
    if (rc < 0)
        ++failures;

    printf("%s\n", failures == 0 ? "consumer: ok" : "consumer: FAILED");
    return failures == 0 ? 0 : 1;
}
