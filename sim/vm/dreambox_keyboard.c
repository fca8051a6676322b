// SPDX-License-Identifier: GPL-2.0
/*
 * Stand-in for the box's remote-control driver on a generic kernel: an input
 * device named like the box's remote control, fed with the key events of
 * every other keyboard of the machine. Enter becomes KEY_OK, the remote
 * control's confirm key; every other key passes unchanged.
 */
#include <linux/init.h>
#include <linux/input.h>
#include <linux/module.h>
#include <linux/slab.h>

#define RC_NAME "dreambox remote control"

static struct input_dev *rc_dev;

static void rc_event(struct input_handle *handle, unsigned int type, unsigned int code, int value)
{
	if (type != EV_KEY)
		return;
	if (code == KEY_ENTER || code == KEY_KPENTER)
		code = KEY_OK;
	if (code >= KEY_CNT || !test_bit(code, rc_dev->keybit))
		return;
	input_event(rc_dev, EV_KEY, code, value);
	input_sync(rc_dev);
}

static int rc_connect(struct input_handler *handler, struct input_dev *dev,
		      const struct input_device_id *id)
{
	struct input_handle *handle;
	int err;

	if (dev == rc_dev)
		return -ENODEV;
	handle = kzalloc(sizeof(*handle), GFP_KERNEL);
	if (!handle)
		return -ENOMEM;
	handle->dev = dev;
	handle->handler = handler;
	handle->name = "dreambox_keyboard";
	err = input_register_handle(handle);
	if (err)
		goto fail_free;
	err = input_open_device(handle);
	if (err)
		goto fail_unregister;
	pr_info("dreambox_keyboard: keys of \"%s\" go to the remote control\n", dev->name);
	return 0;

fail_unregister:
	input_unregister_handle(handle);
fail_free:
	kfree(handle);
	return err;
}

static void rc_disconnect(struct input_handle *handle)
{
	input_close_device(handle);
	input_unregister_handle(handle);
	kfree(handle);
}

static const struct input_device_id rc_ids[] = {
	{
		.flags = INPUT_DEVICE_ID_MATCH_EVBIT,
		.evbit = { BIT_MASK(EV_KEY) },
	},
	{},
};

static struct input_handler rc_handler = {
	.event = rc_event,
	.connect = rc_connect,
	.disconnect = rc_disconnect,
	.name = "dreambox_keyboard",
	.id_table = rc_ids,
};

static int __init rc_init(void)
{
	int code, err;

	rc_dev = input_allocate_device();
	if (!rc_dev)
		return -ENOMEM;
	rc_dev->name = RC_NAME;
	rc_dev->phys = "dreambox_keyboard/input0";
	rc_dev->id.bustype = BUS_VIRTUAL;
	__set_bit(EV_KEY, rc_dev->evbit);
	for (code = KEY_ESC; code < BTN_MISC; code++)
		__set_bit(code, rc_dev->keybit);
	for (code = KEY_OK; code < BTN_TRIGGER_HAPPY; code++)
		__set_bit(code, rc_dev->keybit);
	err = input_register_device(rc_dev);
	if (err) {
		input_free_device(rc_dev);
		return err;
	}
	err = input_register_handler(&rc_handler);
	if (err) {
		input_unregister_device(rc_dev);
		return err;
	}
	return 0;
}

static void __exit rc_exit(void)
{
	input_unregister_handler(&rc_handler);
	input_unregister_device(rc_dev);
}

module_init(rc_init);
module_exit(rc_exit);
MODULE_DESCRIPTION("Remote-control stand-in fed by the machine's keyboards");
MODULE_LICENSE("GPL");
