/* A controller that misbehaves on purpose, as a controller under development
 * does: it steps the world and moves its head.
 *
 *   probe_controller SETUP [ACTION]
 *
 * SETUP is how it runs:
 *   plain         one thread
 *   locale        setlocale(LC_ALL, "") first, and prints a number in that locale
 *   threads       looks its devices up on the main thread and runs on a worker
 *   two_threads   a second thread steps and sets a joint all along
 * ACTION is what it does at step PROBE_STEP (29 by default):
 *   none          nothing: it steps until the simulator ends it
 *   abort, segv, exit0   abort(), a write through a null pointer, _exit(0)
 *   busy          loops forever without calling the library
 *   fork          forks a child that calls the library and exit()s
 */
#include <errno.h>
#include <locale.h>
#include <pthread.h>
#include <semaphore.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "controller_api/controller.h"

static const char *setup = "plain";
static const char *action = "none";
static int probe_step = 29;
static int steps = 0;
static DeviceTag pan = 0;

static void init(void) {
  if (pan == 0) pan = robot_get_device("PRM:/r1/c1/c2-Joint2:12");
  camera_enable(robot_get_device("PRM:/r1/c1/c2/c3/i1-FbkImageSensor:F1"), 1);
}

static void misbehave(void) {
  if (strcmp(action, "abort") == 0) abort();
  if (strcmp(action, "segv") == 0) *(volatile int *)(void *)0 = 1;
  if (strcmp(action, "exit0") == 0) _exit(0);
  if (strcmp(action, "busy") == 0) {
    /* Says where it is, for whoever waits to signal it. */
    const char *mark = getenv("PROBE_MARK");
    if (mark != NULL) fclose(fopen(mark, "w"));
    for (;;) {
    }
  }
  if (strcmp(action, "fork") == 0) {
    const pid_t child = fork();
    if (child == 0) {
      robot_console_print("the forked child speaks\n");
      servo_set_position(pan, 1.0f);
      robot_step(32);
      exit(0);
    }
    waitpid(child, NULL, 0);
  }
}

/* Set once the second thread's first step has been served, so that the run
 * cannot end, on a loaded machine, before that thread has had its turn. */
static sem_t alongside_stepped;
static int alongside = 0;

static int step(void) {
  if (alongside) {
    struct timespec until;
    clock_gettime(CLOCK_REALTIME, &until);
    until.tv_sec += 30;
    while (sem_timedwait(&alongside_stepped, &until) != 0 && errno == EINTR) {
    }
    alongside = 0;
  }
  for (;;) {
    servo_set_position(pan, (steps / 10) % 2 == 0 ? 0.3f : -0.3f);
    robot_step(32);
    ++steps;
    if (steps == probe_step) misbehave();
  }
  return 1;
}

static void *run_on_worker(void *unused) {
  (void)unused;
  robot_live(init);
  robot_run(step);
  return NULL;
}

static void *step_alongside(void *unused) {
  (void)unused;
  DeviceTag tilt = robot_get_device("PRM:/r1/c1-Joint2:11");
  for (int i = 0;; ++i) {
    servo_set_position(tilt, (i % 2) != 0 ? -1.0f : -1.2f);
    robot_step(32);
    if (i == 0) sem_post(&alongside_stepped);
  }
  return NULL;
}

int main(int argc, char **argv) {
  if (argc > 1) setup = argv[1];
  if (argc > 2) action = argv[2];
  const char *at = getenv("PROBE_STEP");
  if (at != NULL) probe_step = atoi(at);
  if (strcmp(setup, "locale") == 0) {
    if (setlocale(LC_ALL, "") == NULL) return 3;
    char number[32];
    snprintf(number, sizeof number, "%.1f", 0.5);
    printf("the controller's locale writes 0.5 as %s\n", number);
    fflush(stdout);
  }
  if (strcmp(setup, "threads") == 0) {
    pan = robot_get_device("PRM:/r1/c1/c2-Joint2:12");
    pthread_t worker;
    pthread_create(&worker, NULL, run_on_worker, NULL);
    pthread_join(worker, NULL);
    return 0;
  }
  if (strcmp(setup, "two_threads") == 0) {
    sem_init(&alongside_stepped, 0, 0);
    alongside = 1;
    pthread_t other;
    pthread_create(&other, NULL, step_alongside, NULL);
  }
  robot_live(init);
  robot_run(step);
  return 0;
}
