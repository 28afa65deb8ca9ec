// Resource identifiers shared by the resource script and the code.
#ifndef RUNNER_RESOURCES_RESOURCE_H_
#define RUNNER_RESOURCES_RESOURCE_H_

#define IDI_APP_ICON 101

#endif  // RUNNER_RESOURCES_RESOURCE_H_
